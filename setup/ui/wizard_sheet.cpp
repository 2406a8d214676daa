#include "wizard_sheet.h"

#include "credentials.h"
#include "download_page.h"
#include "download_session.h"
#include "install_page.h"
#include "open_sites_page.h"
#include "prerequisite_installer.h"
#include "prerequisite_model.h"
#include "program_icon.h"
#include "selection_page.h"
#include "settings.h"
#include "toolkit_language.h"
#include "ui_dispatcher.h"
#include "ui_strings.h"
#include "wizard_text_pages.h"

#include <QBuffer>
#include <QFontMetrics>
#include <QFrame>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLinearGradient>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace krv::setup {
namespace {

constexpr int kHeaderHeight = 64;

// A picture of our own: a soft gradient with a band, as PNG bytes.
std::string GradientPicture(int width, int height, QColor from, QColor to, bool vertical) {
    QImage image(width, height, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, vertical ? 0 : width, vertical ? height : 0);
    gradient.setColorAt(0, from);
    gradient.setColorAt(1, to);
    painter.fillRect(image.rect(), gradient);
    painter.fillRect(vertical ? QRect(0, 0, width / 3, height) : QRect(width * 3 / 4, 0, 4, height),
                     QColor(255, 255, 255, 60));
    painter.end();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes.toStdString();
}

// The header band: the header picture over the page's width with the title
// and subtitle drawn on it, then the etched line under it.
class HeaderBand : public QWidget {
  public:
    HeaderBand(WizardSheet &sheet, const QString &title, const QString &subtitle, QWidget *parent)
        : QWidget(parent), m_sheet(sheet) {
        setObjectName("HeaderBitmap");
        setFixedHeight(kHeaderHeight);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(22, 8, 22, 8);
        auto *titleLabel = new QLabel(title, this);
        titleLabel->setObjectName("1052");
        titleLabel->setFont(sheet.TitleFont());
        auto *subtitleLabel = new QLabel(subtitle, this);
        subtitleLabel->setObjectName("1053");
        subtitleLabel->setWordWrap(true);
        subtitleLabel->setContentsMargins(22, 0, 0, 0);
        layout->addWidget(titleLabel);
        layout->addWidget(subtitleLabel);
        layout->addStretch();
    }

  protected:
    void paintEvent(QPaintEvent *) override {
        QPainter painter(this);
        const QPixmap picture = m_sheet.HeaderPicture();
        if (picture.isNull())
            painter.fillRect(rect(), palette().base());
        else
            painter.drawPixmap(rect(), picture);
    }

  private:
    WizardSheet &m_sheet;
};

class SessionDownloader : public PageDownloader {
  public:
    SessionDownloader(CredentialProvider *credentials, ProgressSink *sink, SetupMessages messages)
        : m_session(credentials, {}, sink, std::move(messages)) {}
    uint32_t Start(const std::string &url, const std::string &target) override {
        return m_session.Start(url, target, nullptr, true, {}, false);
    }
    bool IsRunning() const override { return m_session.IsRunning(); }
    uint32_t Wait() override { return m_session.Wait(); }
    uint32_t GetErrorCode() const override { return m_session.GetErrorCode(); }

  private:
    DownloadSession m_session;
};

} // namespace

WizardResources WizardResources::Defaults() {
    WizardResources resources;
    resources.componentsText =
        "<h3>Telmar 2.3</h3>"
        "<p>Программа установит сервисную консоль Telmar и драйвер фискальных регистраторов "
        "KRV-T100 и KRV-T200 с модемом KRV-L5.</p>"
        "<p>Перед установкой мастер проверит, какие программы нужны для работы приложения, "
        "загрузит и установит недостающие.</p>"
        "<p>Нажмите <b>Далее</b>, чтобы продолжить.</p>";
    resources.licenseText =
        "<h3>Лицензионное соглашение Telmar 2.3</h3>"
        "<p>Программное обеспечение предоставляется для обслуживания фискальных регистраторов "
        "KRV-T100 и KRV-T200. Используя его, вы соглашаетесь с условиями поставщика.</p>"
        "<p>Программное обеспечение предоставляется «как есть», без каких-либо гарантий.</p>";
    resources.backgroundPicture =
        GradientPicture(164, 314, QColor(32, 72, 140), QColor(150, 190, 235), true);
    resources.headerPicture =
        GradientPicture(497, kHeaderHeight, QColor(255, 255, 255), QColor(200, 218, 240), false);
    return resources;
}

std::string WizardBlock(std::string_view kind, uint32_t id, const std::string &fallback) {
    std::string block = LoadResourceBlock(kind, id);
    return block.empty() ? fallback : block;
}

PageDownloaderFactory SessionDownloaderFactory(CredentialProvider *credentials,
                                               SetupMessages messages) {
    return [credentials, messages](ProgressSink *sink) -> std::unique_ptr<PageDownloader> {
        return std::make_unique<SessionDownloader>(credentials, sink, messages);
    };
}

QString UiText(uint32_t id) {
    return QString::fromStdString(LoadUiString(id));
}

QString DialogText(uint32_t dialog, uint32_t control, const QString &fallback) {
    const std::string text = LoadDialogText(dialog, control);
    return text.empty() ? fallback : QString::fromStdString(text);
}

// ---- WizardPage

QTreeWidget *WizardPage::MakeList(const char *name, const std::vector<uint32_t> &titles,
                                  const std::vector<int> &widths) {
    auto *list = new QTreeWidget(this);
    list->setObjectName(name);
    list->setRootIsDecorated(false);
    QStringList labels;
    for (uint32_t id : titles)
        labels << UiText(id);
    list->setHeaderLabels(labels);
    list->header()->setStretchLastSection(false);
    list->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    for (std::size_t column = 1; column < widths.size(); ++column) {
        if (widths[column] == kFitColumn)
            list->header()->setSectionResizeMode(static_cast<int>(column),
                                                 QHeaderView::ResizeToContents);
        else if (widths[column] > 0)
            list->setColumnWidth(static_cast<int>(column), widths[column]);
    }
    return list;
}

void SetCellText(QTreeWidgetItem *item, int column, const QString &text) {
    item->setText(column, text);
    item->setToolTip(column, text);
}

void WizardPage::ConnectRowMenu(QTreeWidget *list, std::function<QMenu *(int row)> menuOf) {
    list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list, &QTreeWidget::customContextMenuRequested, this,
            [list, menuOf = std::move(menuOf)](const QPoint &at) {
                QTreeWidgetItem *item = list->itemAt(at);
                if (!item)
                    return;
                list->setCurrentItem(item);
                QMenu *menu = menuOf(list->indexOfTopLevelItem(item));
                menu->exec(list->viewport()->mapToGlobal(at));
                menu->deleteLater();
            });
}

WizardPage::WizardPage(WizardSheet &sheet, int id, bool header, const QString &title,
                       const QString &subtitle)
    : QWidget(nullptr), m_sheet(sheet), m_id(id), m_header(header) {
    setObjectName(QString::number(id));
    auto *outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->setSpacing(0);
    if (header) {
        outer->addWidget(new HeaderBand(sheet, DialogText(static_cast<uint32_t>(id), 1052, title),
                                        DialogText(static_cast<uint32_t>(id), 1053, subtitle),
                                        this));
        auto *line = new QFrame(this);
        line->setObjectName("HeaderLine");
        line->setFrameShape(QFrame::HLine);
        line->setFrameShadow(QFrame::Sunken);
        outer->addWidget(line);
    }
    m_body = new QVBoxLayout();
    m_body->setContentsMargins(22, 10, 22, 10);
    // The page's rows keep the gap of the rest of the wizard (the outer
    // layout's 0 would pass down to them).
    m_body->setSpacing(kWizardControlGap);
    outer->addLayout(m_body, 1);
}

bool WizardPage::OnWizardFinish() {
    m_sheet.SetCancelFlag(false);
    return true;
}

void WizardPage::paintEvent(QPaintEvent *event) {
    if (!m_header) {
        const QPixmap background = m_sheet.BackgroundPicture();
        if (!background.isNull()) {
            QPainter painter(this);
            painter.drawPixmap(rect(), background);
        }
    }
    QWidget::paintEvent(event);
}

// ---- WizardSheet

WizardSheet::WizardSheet(SetupSettings &settings, PrerequisiteInstaller &installer,
                         WizardEnvironment environment, QWidget *parent)
    : QDialog(parent), m_settings(settings), m_installer(installer),
      m_environment(std::move(environment)) {
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowCloseButtonHint);
    setSizeGripEnabled(true);
    setModal(true);
    SetProgramIcon(*this);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 8);
    m_stack = new QStackedWidget(this);
    layout->addWidget(m_stack, 1);
    m_line = new QFrame(this);
    m_line->setObjectName("12326");
    m_line->setFrameShape(QFrame::HLine);
    m_line->setFrameShadow(QFrame::Sunken);
    layout->addWidget(m_line);
    auto *buttons = new QHBoxLayout();
    buttons->setContentsMargins(11, 4, 11, 0);
    buttons->addStretch();
    // The buttons of the toolkit's wizard, in its language.
    const WizardButtonTexts texts = ToolkitWizardButtonTexts();
    m_back = new QPushButton(texts.back, this);
    m_next = new QPushButton(texts.next, this);
    m_finish = new QPushButton(texts.finish, this);
    m_cancel = new QPushButton(texts.cancel, this);
    // The four are as wide as each other, and each leaves two average
    // characters of room either side of its text: the toolkit's own width
    // leaves a long word ("Завершить") touching the button's edges.
    int width = 0;
    for (QPushButton *button : {m_back, m_next, m_finish, m_cancel}) {
        const QFontMetrics metrics = button->fontMetrics();
        const QString text = button->text().remove(QLatin1Char('&'));
        width = std::max({width, button->sizeHint().width(),
                          metrics.horizontalAdvance(text) + 4 * metrics.averageCharWidth()});
    }
    for (QPushButton *button : {m_back, m_next, m_finish, m_cancel}) {
        button->setAutoDefault(false);
        button->setMinimumWidth(width);
        buttons->addWidget(button);
    }
    m_next->setDefault(true);
    layout->addLayout(buttons);
    connect(m_back, &QPushButton::clicked, this, [this] { Go(-1); });
    connect(m_next, &QPushButton::clicked, this, [this] { Go(+1); });
    connect(m_finish, &QPushButton::clicked, this, [this] { Finish(); });
    connect(m_cancel, &QPushButton::clicked, this, [this] { reject(); });

    const bool prereqsGiven = settings.prereqsGiven;
    if (!prereqsGiven && !HasSetupFlagLetter(settings, 'h'))
        m_pages.push_back(new ComponentsTextPage(*this));
    if (!prereqsGiven && HasSetupFlagLetter(settings, 'e'))
        m_pages.push_back(new LicensePage(*this));
    m_pages.push_back(new PrerequisiteSelectionPage(*this));
    m_pages.push_back(new DownloadPage(*this));
    m_pages.push_back(new OpenSitesPage(*this));
    m_pages.push_back(new PrerequisiteInstallPage(*this));
    for (WizardPage *page : m_pages)
        m_stack->addWidget(page);
    SetWizardTitle();
    resize(std::max(sizeHint().width(), 560), std::max(sizeHint().height(), 420));
}

WizardSheet::~WizardSheet() {
    // Pages stop their workers before the sheet they report to goes, and
    // before any page's destruction begins.
    for (WizardPage *page : m_pages)
        page->StopWork();
    for (WizardPage *page : m_pages) {
        m_stack->removeWidget(page);
        delete page;
    }
    m_pages.clear();
}

bool WizardSheet::ShowWizard() {
    Start();
    exec();
    if (WizardPage *page = CurrentPage())
        page->OnKillActive();
    return m_finished && !m_cancelFlag;
}

void WizardSheet::Start() {
    if (m_started || m_pages.empty())
        return;
    m_started = true;
    SetCurrentPage(m_pages.front()->Id());
}

WizardPage *WizardSheet::Page(int id) const {
    for (WizardPage *page : m_pages)
        if (page->Id() == id)
            return page;
    return nullptr;
}

int WizardSheet::IndexOf(int id) const {
    for (std::size_t i = 0; i < m_pages.size(); ++i)
        if (m_pages[i]->Id() == id)
            return static_cast<int>(i);
    return -1;
}

bool WizardSheet::HasPageBefore(const WizardPage *page) const {
    return page && IndexOf(page->Id()) > 0;
}

WizardPage *WizardSheet::CurrentPage() const {
    return static_cast<WizardPage *>(m_stack->currentWidget());
}

int WizardSheet::CurrentPageId() const {
    const WizardPage *page = CurrentPage();
    return page ? page->Id() : 0;
}

void WizardSheet::SetCurrentPage(int id) {
    WizardPage *page = Page(id);
    if (!page)
        return;
    m_started = true;
    if (WizardPage *old = CurrentPage(); old && old != page && old->isVisible())
        old->OnKillActive();
    m_stack->setCurrentWidget(page);
    UpdateWizardButtons();
    page->OnSetActive();
    emit PageChanged(id);
}

void WizardSheet::UpdateWizardButtons() {
    if (!m_firstActivationDone) {
        m_firstActivationDone = true;
        if (isVisible()) {
            m_minimumFixed = true;
            setMinimumSize(size());
        }
    }
    SetWizardTitle();
    bool finish = m_installer.MandatoryPrerequisitesDone();
    if (auto *licence = static_cast<LicensePage *>(Page(wizard_page::kLicense)))
        finish = finish && licence->Accepted();
    EnableWizardControl(wizard_button::kFinish, finish);
}

QPushButton *WizardSheet::Button(int id) const {
    switch (id) {
    case wizard_button::kBack:
        return m_back;
    case wizard_button::kNext:
        return m_next;
    case wizard_button::kFinish:
        return m_finish;
    case wizard_button::kCancel:
        return m_cancel;
    default:
        return nullptr;
    }
}

void WizardSheet::EnableWizardControl(int id, bool enable) {
    if (QPushButton *button = Button(id))
        button->setEnabled(enable);
}

bool WizardSheet::IsControlEnabled(int id) const {
    const QPushButton *button = Button(id);
    return button && button->isEnabled();
}

void WizardSheet::PressButton(int id) {
    switch (id) {
    case wizard_button::kBack:
        if (m_back->isEnabled())
            Go(-1);
        break;
    case wizard_button::kNext:
        if (m_next->isEnabled())
            Go(+1);
        break;
    case wizard_button::kFinish:
        Finish();
        break;
    case wizard_button::kCancel:
        reject();
        break;
    default:
        break;
    }
}

void WizardSheet::PostPressButton(int id) {
    UiDispatcher::Post(this, [this, id] { PressButton(id); });
}

void WizardSheet::Go(int direction) {
    WizardPage *page = CurrentPage();
    if (!page)
        return;
    const int answer = direction < 0 ? page->OnWizardBack() : page->OnWizardNext();
    if (answer == wizard_move::kStay)
        return;
    int target = answer;
    if (answer == wizard_move::kDefault) {
        const int index = IndexOf(page->Id()) + direction;
        if (index < 0 || index >= static_cast<int>(m_pages.size()))
            return;
        target = m_pages[static_cast<std::size_t>(index)]->Id();
    }
    SetCurrentPage(target);
}

void WizardSheet::Finish() {
    WizardPage *page = CurrentPage();
    if (page && !page->OnWizardFinish())
        return;
    m_finished = true;
    done(QDialog::Accepted);
}

void WizardSheet::reject() {
    m_cancelFlag = true;
    m_finished = false;
    QDialog::reject();
}

void WizardSheet::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The wizard cannot be made smaller than it opened.
    if (!m_minimumFixed) {
        m_minimumFixed = true;
        setMinimumSize(size());
    }
}

void WizardSheet::SetWizardTitle() {
    setWindowTitle(QString::fromStdString(m_environment.caption));
}

QFont WizardSheet::TitleFont() const {
    QFont bold = font();
    bold.setWeight(QFont::Bold);
    return bold;
}

QPixmap WizardSheet::HeaderPicture() {
    if (!m_picturesLoaded) {
        m_picturesLoaded = true;
        PictureControl picture;
        const std::string header =
            WizardBlock(kImageFile, kHeaderPictureBlock, m_environment.resources.headerPicture);
        if (picture.LoadFromMemory(header.data(), header.size()))
            m_header = picture.ToPixmap();
        const std::string background = WizardBlock(kImageFile, kBackgroundPictureBlock,
                                                   m_environment.resources.backgroundPicture);
        if (picture.LoadFromMemory(background.data(), background.size()))
            m_background = picture.ToPixmap();
    }
    return m_header;
}

QPixmap WizardSheet::BackgroundPicture() {
    HeaderPicture();
    return m_background;
}

} // namespace krv::setup
