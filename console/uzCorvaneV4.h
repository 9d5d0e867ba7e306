#pragma once
// The activation console's main window: four modem lines on the left, the
// advice texts on the right, the settings strip on top, laid out by the form
// resources/TfzCorvaneV4.ui.
//
// What a caller may rely on:
// - GUI thread only. Construction creates every component (four closed
//   ports, 28 disabled timers, the instance limiter unless the options leave
//   it out), then runs FormCreate: settings loaded, ports numbered and
//   speeded, controls filled. All lines start switched off.
// - Refused() tells main that the instance limiter turned this copy away: the
//   window must then never be shown (and so never asks or saves at close).
// - Closing (the "&Keluar" button, the system menu, the close box) asks
//   "ANDA YAKIN AKAN MENUTUP APLIKASI INI?"; Yes writes the main INI file,
//   stops every timer, closes every port and closes the window (the program
//   then ends, see TApplication::MainWindowClosed); No keeps everything
//   running. A save that fails asks whether to close without saving, so the
//   window can always be closed. A close after the confirmed one asks nothing.
// - Destruction stops every timer and closes every port first, while all
//   four lines still exist.
// - Messages to the operator go through MessageDlg (uToolkit), exceptions of
//   handlers to the application's central exception handler.
#include <QWidget>

#include <array>
#include <memory>
#include <string>

#include "uCardSettings.h"
#include "uConsoleLine.h"
#include "uDataType.h"

class QCloseEvent;
class QMenu;
class QAction;
class TadpInstanceControl;

namespace Ui {
class TfzCorvaneV4;
}

namespace corvane {

struct TFormOptions {
  // Folder of the INI files, with or without a trailing '/'. Empty: the
  // folder of the running executable.
  std::string programDir;
  // Count this copy among the running ones (MaxInstances 16). Tests that
  // make many windows in one process leave it out.
  bool limitInstances = true;
};

class TfzCorvaneV4 : public QWidget {
  Q_OBJECT
 public:
  explicit TfzCorvaneV4(TFormOptions options = {}, QWidget* parent = nullptr);
  ~TfzCorvaneV4() override;

  bool Refused() const { return refused_; }

  Ui::TfzCorvaneV4& Form() { return *ui_; }
  TConsoleLine& Line(int n) { return *Lines.at(static_cast<std::size_t>(n - 1)); }
  TLineData& LineRecord(int n) { return LineRecords.at(static_cast<std::size_t>(n - 1)); }

  // Window-level values.
  std::string ProgramDir;  // with trailing '/'
  std::int32_t BaudRate = 0;
  TCardSettings Card;
  std::array<TLineData, LineRecordCount> LineRecords{};
  std::array<std::unique_ptr<TConsoleLine>, LineCount> Lines;
  TadpInstanceControl* adpInstanceControl1 = nullptr;
  QMenu* pmKartuAktif = nullptr;
  QAction* mnTambahNamaKartu = nullptr;

  // Published handlers.
  void FormCreate();
  void btnKeluarClick();
  void ckOn_AllClick();
  void btnSettingClick();
  void cbKartuAktifChange();
  void mnTambahNamaKartuClick();

  // Configuration files.
  void LoadMainSettings();
  void SaveMainSettings();
  void LoadCardSettings(int index);
  void SaveCardSettings(int index);
  std::string MainIniPath() const;

  // The answer delay of the SIM Toolkit menus in ms. A text in its edit that
  // is no number in 0..60000 is put back to the default and logged once, on
  // `logTo` (line 1 when nullptr), so a menu answer never meets a bad value.
  static constexpr std::int32_t MaxDelayDefaultMs = 2000;
  static constexpr std::int32_t MaxDelayLimitMs = 60000;
  std::int32_t MaxDelayMs(TConsoleLine* logTo = nullptr);
  // A setting put back to its default, said once in the line's log.
  void NoteSetting(const std::string& text, TConsoleLine* logTo = nullptr);

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  void CreateComponents(const TFormOptions& options);
  bool FormClose();
  // Every line timer stopped, every port closed; safe to call again.
  void EndLines() noexcept;
  void ApplyComNumberAtStart(TConsoleLine& line);
  void ShowPortsInTitle();
  std::string CardNameAt(int index) const;
  // A warning to the operator; a copy the limiter refused shows nothing.
  void Warn(const QString& text);

  std::unique_ptr<Ui::TfzCorvaneV4> ui_;
  bool refused_ = false;
  bool closed_ = false;
  QString caption_;  // the window's own caption, without the ports
};

}  // namespace corvane
