// The prerequisites wizard of the full user interface: a resizable dialog
// with up to six pages in a fixed order, its Back / Next / Finish / Cancel
// buttons switched on and off independently by the pages, page jumps, the
// header picture and line or the background picture of each page, and the
// cancel flag that tells the runner whether to go on with the main
// installation.
//
// Pages talk to the sheet the way wizard pages do: they are told when they
// become current (OnSetActive) and when the user presses Back, Next or
// Finish, and answer with the page to go to or a refusal. Work that must
// wait for the event loop (a worker's report, "press Next by itself") is
// posted to the user-interface thread.
#pragma once

#include "messages.h"
#include "picture_control.h"

#include <QDialog>
#include <QFont>
#include <QPixmap>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QFrame;
class QLabel;
class QMenu;
class QTreeWidget;
class QTreeWidgetItem;
class QPushButton;
class QStackedWidget;
class QVBoxLayout;

namespace krv::setup {

class CredentialProvider;
class PrerequisiteInstaller;
class ProgressSink;
struct SetupSettings;

// The pages, by the number of their dialog.
namespace wizard_page {
inline constexpr int kComponentsText = 206;
inline constexpr int kLicense = 218;
inline constexpr int kSelection = 202;
inline constexpr int kDownload = 203;
inline constexpr int kOpenSites = 211;
inline constexpr int kInstall = 212;
} // namespace wizard_page

// The sheet's buttons.
namespace wizard_button {
inline constexpr int kBack = 12323;
inline constexpr int kNext = 12324;
inline constexpr int kFinish = 12325;
inline constexpr int kCancel = 2;
} // namespace wizard_button

// What OnWizardBack and OnWizardNext answer besides a page number.
namespace wizard_move {
inline constexpr int kDefault = 0; // the neighbouring page in order
inline constexpr int kStay = -1;   // the change is refused
} // namespace wizard_move

// The program's own texts and pictures of the wizard, shown where the
// current language module carries no resource block in their place: the
// components description and the licence (rich text: HTML or plain), the
// background picture of the first page and the header picture of the others
// (any format Qt reads; bytes it cannot read show nothing).
struct WizardResources {
    std::string componentsText;
    std::string licenseText;
    std::string backgroundPicture;
    std::string headerPicture;
    // The texts and pictures of this product.
    static WizardResources Defaults();
};

// The download engine as the download page uses it: one file at a time,
// reporting to the page.
class PageDownloader {
  public:
    virtual ~PageDownloader() = default;
    // 0, or the error of starting the worker.
    virtual uint32_t Start(const std::string &url, const std::string &target) = 0;
    virtual bool IsRunning() const = 0;
    // Waits for the worker; its result.
    virtual uint32_t Wait() = 0;
    virtual uint32_t GetErrorCode() const = 0;
};
// Makes the downloader of a page; the sink is the page.
using PageDownloaderFactory = std::function<std::unique_ptr<PageDownloader>(ProgressSink *sink)>;
// Pages' downloaders that are DownloadSessions answering a server or proxy
// that asks from the credentials (null: nothing) and asking their
// certificate questions through the messages.
PageDownloaderFactory SessionDownloaderFactory(CredentialProvider *credentials,
                                               SetupMessages messages);

// What a wizard run is built with besides the settings and the manager.
class SetupWindows;

struct WizardEnvironment {
    WizardResources resources = WizardResources::Defaults();
    std::string caption;     // the setup's caption (window title)
    std::string productName; // for "ready to install %s"
    // Empty: SessionDownloaderFactory without credentials, with the messages
    // below.
    PageDownloaderFactory downloaderFactory;
    // The values the first search of a prerequisite finds (the selection
    // page's version column); FirstSearchFoundValues when not given.
    std::function<std::vector<std::string>(int index)> foundValues;
    // The pages' one-second timers run (tests drive Tick themselves).
    bool timers = true;
    // The windows that open the sites of prerequisites; null: the desktop.
    SetupWindows *windows = nullptr;
    // Where the pages' boxes go.
    SetupMessages messages;
};

class WizardSheet;

// A user-interface string as a Qt text.
QString UiText(uint32_t id);
// A control's text from the current language module's dialog texts, else
// the text the page was made with.
QString DialogText(uint32_t dialog, uint32_t control, const QString &fallback);
// A resource block of the current language module (LoadResourceBlock), else
// the program's own bytes given.
std::string WizardBlock(std::string_view kind, uint32_t id, const std::string &fallback);

// Pixels between controls that stand side by side on a page: a picture and
// its text, a label and its value.
inline constexpr int kWizardControlGap = 6;

// The part common to every page: its number, the header (picture, title,
// subtitle and line) or the background picture, and the wizard
// notifications.
// A list column as wide as its longest text (or its title).
inline constexpr int kFitColumn = -1;

// A list cell's text, with the whole of it as the cell's tooltip for when the
// column is too narrow to show it.
void SetCellText(QTreeWidgetItem *item, int column, const QString &text);

class WizardPage : public QWidget {
    Q_OBJECT
  public:
    WizardPage(WizardSheet &sheet, int id, bool header, const QString &title,
               const QString &subtitle);

    int Id() const { return m_id; }
    WizardSheet &Sheet() { return m_sheet; }

    // The page becomes current (after the sheet's button rule).
    virtual void OnSetActive() {}
    // A page number, wizard_move::kDefault or kStay.
    virtual int OnWizardBack() { return wizard_move::kDefault; }
    virtual int OnWizardNext() { return wizard_move::kDefault; }
    // False refuses to finish. The default clears the cancel flag: the
    // main installation follows.
    virtual bool OnWizardFinish();
    // The page is about to be hidden for another (or the sheet ends).
    virtual void OnKillActive() {}
    // The sheet ends: work the page started stops (and its worker has
    // ended) before any page is destroyed.
    virtual void StopWork() {}

  protected:
    // Where the page puts its controls (under the header, if any).
    QVBoxLayout *Body() { return m_body; }
    // A list of rows with the column titles (string ids); the first column
    // takes the width the others leave (widths: 0 = leave as it is,
    // kFitColumn = as wide as its longest text).
    QTreeWidget *MakeList(const char *name, const std::vector<uint32_t> &titles,
                          const std::vector<int> &widths);
    // A right click on a row opens the menu `menuOf` makes for that row.
    void ConnectRowMenu(QTreeWidget *list, std::function<QMenu *(int row)> menuOf);
    void paintEvent(QPaintEvent *event) override;

  private:
    WizardSheet &m_sheet;
    int m_id;
    bool m_header;
    QVBoxLayout *m_body = nullptr;
};

class WizardSheet : public QDialog {
    Q_OBJECT
  public:
    // Builds the pages this run shows: the components text unless
    // /prereqs was given or the flag letter h is set, the licence with the
    // flag letter e and without /prereqs, then always selection, download,
    // open sites and install.
    WizardSheet(SetupSettings &settings, PrerequisiteInstaller &installer,
                WizardEnvironment environment, QWidget *parent = nullptr);
    ~WizardSheet() override;

    // Shows the wizard modally. True when it finished with the cancel flag
    // clear (the main installation follows); false when it was cancelled or
    // ended without installing.
    bool ShowWizard();
    // Starts at the first page without waiting (tests, and ShowWizard).
    void Start();

    SetupSettings &Settings() { return m_settings; }
    PrerequisiteInstaller &Installer() { return m_installer; }
    const WizardEnvironment &Environment() const { return m_environment; }

    // The pages in order, and by number (null when not part of this run).
    const std::vector<WizardPage *> &Pages() const { return m_pages; }
    WizardPage *Page(int id) const;
    bool HasPage(int id) const { return Page(id) != nullptr; }
    // Some page comes before this one.
    bool HasPageBefore(const WizardPage *page) const;
    WizardPage *CurrentPage() const;
    int CurrentPageId() const;
    // Makes the page current (its OnSetActive runs).
    void SetCurrentPage(int id);

    // The button rule every page applies on activation: Finish only when
    // the licence (if shown) is accepted and every mandatory prerequisite
    // is handled. The first call also fixes the minimum size.
    void UpdateWizardButtons();
    void EnableWizardControl(int id, bool enable);
    bool IsControlEnabled(int id) const;
    // Presses a button as the user would (only when it is enabled, except
    // that Finish and Cancel pressed by a page always act).
    void PressButton(int id);
    // The same, later, from the event loop.
    void PostPressButton(int id);

    // Set while the wizard would end without the main installation.
    bool CancelFlag() const { return m_cancelFlag; }
    void SetCancelFlag(bool on) { m_cancelFlag = on; }
    bool Finished() const { return m_finished; }

    void SetWizardTitle();
    QFont TitleFont() const;
    QPixmap HeaderPicture();
    QPixmap BackgroundPicture();

  signals:
    void PageChanged(int id);

  protected:
    void reject() override;
    void showEvent(QShowEvent *event) override;

  private:
    void Go(int direction);
    void Finish();
    QPushButton *Button(int id) const;
    int IndexOf(int id) const;

    SetupSettings &m_settings;
    PrerequisiteInstaller &m_installer;
    WizardEnvironment m_environment;
    std::vector<WizardPage *> m_pages;
    QStackedWidget *m_stack = nullptr;
    QFrame *m_line = nullptr;
    QPushButton *m_back = nullptr;
    QPushButton *m_next = nullptr;
    QPushButton *m_finish = nullptr;
    QPushButton *m_cancel = nullptr;
    bool m_cancelFlag = true;
    bool m_finished = false;
    bool m_firstActivationDone = false;
    bool m_minimumFixed = false;
    bool m_started = false;
    bool m_picturesLoaded = false;
    QPixmap m_header;
    QPixmap m_background;
};

} // namespace krv::setup
