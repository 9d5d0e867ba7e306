// The application's central exception handler: what escapes an event handler
// is caught by notify() and shown as plain text.
#include <gtest/gtest.h>

#include <QMessageBox>
#include <QTimer>
#include <stdexcept>

#include "PortTestSupport.h"
#include "qt/CentralHandler.h"

using namespace porttest;

namespace {

TEST(CentralHandler, AnExceptionEscapingATimerIsShownAndTheLoopGoesOn) {
  ShownMessages shown;
  int after = 0;
  QTimer::singleShot(0, [] { throw corvane::EBufferIsEmpty(-3007); });
  QTimer::singleShot(10, [&] { ++after; });
  ASSERT_TRUE(PumpUntil([&] { return after == 1; }));
  ASSERT_EQ(shown.Texts().size(), 1);
  EXPECT_EQ(shown.Texts()[0].toStdString(), "Buffer is empty");
}

TEST(CentralHandler, TheSerialLayerReachesTheSameHandler) {
  ShownMessages shown;
  platform::ShowExceptionCentrally(std::make_exception_ptr(std::runtime_error("<b>typed</b> text")));
  ASSERT_EQ(shown.Texts().size(), 1);
  EXPECT_EQ(shown.Texts()[0].toStdString(), "<b>typed</b> text");
}

TEST(CentralHandler, TheMessageBoxShowsPlainText) {
  // Without a hook the real box is shown; close it as soon as it is up and
  // check it does not take the text for markup.
  bool checked = false;
  QTimer::singleShot(50, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
        EXPECT_EQ(box->textFormat(), Qt::PlainText);
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_EQ(box->text().toStdString(), "<i>AT+CUSD</i>");
        checked = true;
        box->accept();
      }
    }
  });
  TApplication::HandleException(std::make_exception_ptr(std::runtime_error("<i>AT+CUSD</i>")));
  EXPECT_TRUE(checked);
  EXPECT_EQ(TApplication::MessageOf(std::make_exception_ptr(42)).toStdString(), "Unknown exception");
}

}  // namespace
