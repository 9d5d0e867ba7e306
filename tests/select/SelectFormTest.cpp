// The port-selection dialog: which ports it lists, its layout and texts, its
// results, and its use by a port opened with ComNumber 0. The ports are
// pseudo-terminals that CORVANE_COM_DIR names COM<n>.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ComDir.h"
#include "PtyMaster.h"
#include "SerExcept.h"
#include "SerPort.h"
#include "SerSelect.h"
#include "TtyDevice.h"

namespace {

namespace fs = std::filesystem;

// A folder of COM<n> links, set as CORVANE_COM_DIR for the test.
class ComDir : public ::testing::Test {
 protected:
  void TearDown() override {
    for (int& fd : held) platform::TtyClose(fd);
    ptys.clear();
  }
  std::string Path(unsigned n) const { return com.LinkPath(static_cast<int>(n)); }
  void AddPort(unsigned n) {
    ptys.push_back(std::make_unique<corvane::testsupport::PtyMaster>());
    ASSERT_FALSE(ptys.back()->SlaveName().empty());
    ASSERT_TRUE(com.Link(static_cast<int>(n), ptys.back()->SlaveName()));
  }
  // A port another program has open.
  void AddHeldPort(unsigned n) {
    AddPort(n);
    int fd = -1;
    ASSERT_EQ(platform::TtyOpenExclusive(Path(n).c_str(), fd), 0);
    held.push_back(fd);
  }
  static std::vector<std::string> Items(const TComSelectForm& form) {
    std::vector<std::string> items;
    for (int i = 0; i < form.PortsComboBox->count(); ++i) items.push_back(form.PortsComboBox->itemText(i).toStdString());
    return items;
  }

  corvane::testsupport::ComDir com{"corvane-select"};
  const fs::path dir{com.Path()};
  std::vector<std::unique_ptr<corvane::testsupport::PtyMaster>> ptys;
  std::vector<int> held;
};

TEST_F(ComDir, ListsPresentAndHeldPortsInOrderUpToFifty) {
  AddPort(3);
  AddPort(1);
  AddHeldPort(4);
  AddPort(12);
  AddPort(51);
  std::ofstream(dir / "not-a-tty") << "x";
  fs::create_symlink(dir / "not-a-tty", Path(2));  // a failing probe leaves only it out
  TComSelectForm form;
  EXPECT_EQ(Items(form), (std::vector<std::string>{"COM1", "COM3", "COM4", "COM12"}));
  EXPECT_EQ(form.PortsComboBox->currentIndex(), 0);
  EXPECT_EQ(form.SelectedPort(), 1);
  EXPECT_TRUE(form.OkBtn->isEnabled());
  EXPECT_EQ(form.DeviceLabel->toolTip().toStdString(), Path(1));
  EXPECT_TRUE(form.DeviceLabel->text().endsWith("/COM1")) << form.DeviceLabel->text().toStdString();
  // The probe let go of every port it opened: a port can open them now.
  for (unsigned n : {1u, 3u, 12u}) {
    int fd = -1;
    EXPECT_EQ(platform::TtyOpenExclusive(Path(n).c_str(), fd), 0) << n;
    platform::TtyClose(fd);
  }
  form.PortsComboBox->setCurrentIndex(3);
  EXPECT_EQ(form.SelectedPort(), 12);
  EXPECT_EQ(form.DeviceLabel->toolTip().toStdString(), Path(12));
}

TEST_F(ComDir, PortExistsAndDeviceName) {
  AddPort(7);
  EXPECT_FALSE(TComSelectForm::PortExists(0));
  EXPECT_TRUE(TComSelectForm::PortExists(7));
  EXPECT_FALSE(TComSelectForm::PortExists(8));
  EXPECT_EQ(TComSelectForm::DeviceName(7), "\\\\.\\COM7");
}

TEST_F(ComDir, AnEmptyListCannotBeConfirmed) {
  TComSelectForm form;
  EXPECT_EQ(form.PortsComboBox->count(), 0);
  EXPECT_EQ(form.PortsComboBox->currentIndex(), -1);
  EXPECT_FALSE(form.OkBtn->isEnabled());
  EXPECT_EQ(form.SelectedPort(), 0);
  EXPECT_TRUE(form.DeviceLabel->text().isEmpty());
}

TEST_F(ComDir, LayoutTextsAndTabOrder) {
  TComSelectForm form;
  EXPECT_EQ(form.windowTitle(), "Select Port");
  EXPECT_EQ(form.size(), QSize(220, 131));
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(form.windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_EQ(form.font().pixelSize(), 11);  // 8 points at 96 dpi
  struct Row {
    QWidget* widget;
    QPoint position;
    int width;   // 0: not laid down
    int height;  // 0: not laid down
    QString text;
  };
  const Row rows[] = {
      {form.Label1, {18, 14}, 0, 0, "The configured serial port is not valid."},
      {form.Label2, {18, 30}, 0, 0, "Please choose another port."},
      {form.Bevel1, {8, 8}, 201, 42, ""},
      {form.OkBtn, {8, 95}, 85, 27, "OK"},
      {form.AbortBtn, {124, 95}, 85, 27, "Cancel"},
      {form.PortsComboBox, {8, 64}, 201, 0, ""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.widget->pos(), r.position) << r.widget->metaObject()->className();
    if (r.width) EXPECT_EQ(r.widget->width(), r.width);
    if (r.height) EXPECT_EQ(r.widget->height(), r.height);
    if (auto* label = qobject_cast<QLabel*>(r.widget)) EXPECT_EQ(label->text(), r.text);
    if (auto* button = qobject_cast<QPushButton*>(r.widget)) EXPECT_EQ(button->text(), r.text);
  }
  EXPECT_TRUE(form.OkBtn->isDefault());
  EXPECT_FALSE(form.PortsComboBox->isEditable());
  EXPECT_EQ(form.OkBtn->nextInFocusChain(), form.AbortBtn);
  EXPECT_EQ(form.AbortBtn->nextInFocusChain(), form.PortsComboBox);
}

// Runs the dialog modally and acts on it once it is up.
int RunModal(TComSelectForm& form, std::function<void(TComSelectForm&)> act) {
  QTimer::singleShot(0, &form, [&form, act] { act(form); });
  return form.exec();
}

TEST_F(ComDir, ModalResults) {
  AddPort(2);
  struct Row {
    const char* action;
    std::function<void(TComSelectForm&)> act;
    int result;
  };
  const Row rows[] = {
      {"OK", [](TComSelectForm& f) { f.OkBtn->click(); }, TComSelectForm::mrOk},
      {"Cancel", [](TComSelectForm& f) { f.AbortBtn->click(); }, TComSelectForm::mrAbort},
      {"window closed", [](TComSelectForm& f) { f.close(); }, QDialog::Rejected},
  };
  for (const Row& r : rows) {
    TComSelectForm form;
    EXPECT_EQ(RunModal(form, r.act), r.result) << r.action;
  }
}

// A port opened with ComNumber 0 shows the dialog; whoever answers it decides.
class PortPrompt : public ComDir {
 protected:
  void SetUp() override {
    ComDir::SetUp();
    previous = TCustomComPort::SetPortPrompt({});
    InstallComSelectForm();
    port = std::make_unique<TComPort>(nullptr);
    port->SetAutoOpen(false);
    port->SetBaud(115200);
  }
  void TearDown() override {
    port.reset();
    TCustomComPort::SetPortPrompt(std::move(previous));
    ComDir::TearDown();
  }
  // Acts on the dialog as soon as it shows.
  static void WhenShown(std::function<void(TComSelectForm&)> act) {
    QTimer::singleShot(0, [act] {
      if (auto* form = dynamic_cast<TComSelectForm*>(QApplication::activeModalWidget())) act(*form);
    });
  }

  TPortPrompt previous;
  std::unique_ptr<TComPort> port;
};

TEST_F(PortPrompt, ChoosingAPortOpensIt) {
  AddPort(3);
  AddPort(12);
  WhenShown([](TComSelectForm& f) {
    f.PortsComboBox->setCurrentIndex(f.PortsComboBox->findText("COM12"));
    f.OkBtn->click();
  });
  port->SetOpen(true);
  EXPECT_EQ(port->ComNumber(), 12);
  EXPECT_TRUE(port->Open());
  port->SetOpen(false);
}

TEST_F(PortPrompt, CancellingLeavesThePortClosed) {
  AddPort(3);
  for (auto act : std::vector<std::function<void(TComSelectForm&)>>{
           [](TComSelectForm& f) { f.AbortBtn->click(); }, [](TComSelectForm& f) { f.close(); }}) {
    WhenShown(act);
    try {
      port->SetOpen(true);
      ADD_FAILURE() << "no exception";
    } catch (const corvane::ENoPortSelected& e) {
      EXPECT_STREQ(e.what(), "The ComNumber property of the TComPort has not been set");
    }
    EXPECT_FALSE(port->Open());
    EXPECT_EQ(port->ComNumber(), 0);
  }
}

}  // namespace
