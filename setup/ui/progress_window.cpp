#include "progress_window.h"

#include "program_icon.h"
#include "toolkit_language.h"

#include <QApplication>
#include <QFontMetrics>
#include <QProgressBar>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>

namespace krv::setup {

namespace {

// Dialog units of the templates to pixels of the current font.
QSize DialogUnits(const QWidget *widget, int width, int height) {
    const QFontMetrics metrics(widget->font());
    const int average = metrics.averageCharWidth();
    return {width * average / 4 + 8, height * metrics.height() / 8 + 16};
}

} // namespace

void ElidedLabel::SetFullText(const QString &text) {
    m_full = text;
    setToolTip(text);
    Elide();
}

void ElidedLabel::resizeEvent(QResizeEvent *event) {
    QLabel::resizeEvent(event);
    Elide();
}

void ElidedLabel::Elide() {
    setText(fontMetrics().elidedText(m_full, Qt::ElideMiddle, qMax(width(), 20)));
}

ProgressWindow::ProgressWindow(QWidget *owner) : QDialog(owner) {
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    SetProgramIcon(*this);
    auto *layout = new QVBoxLayout(this);
    m_text = new ElidedLabel(this);
    m_text->setObjectName("text1034");
    m_bar = new QProgressBar(this);
    m_bar->setObjectName("progress1035");
    m_bar->setTextVisible(false);
    m_cancel = new QPushButton(ToolkitButtonText(QDialogButtonBox::Cancel), this);
    m_cancel->setObjectName("cancel2");
    layout->addWidget(m_text);
    layout->addWidget(m_bar);
    layout->addWidget(m_cancel, 0, Qt::AlignRight);
    setFixedSize(DialogUnits(this, 278, 51).expandedTo(sizeHint()));
    connect(m_cancel, &QPushButton::clicked, this, [this] { reject(); });
}

void ProgressWindow::SetCancellable(bool cancellable) {
    m_cancellable = cancellable;
    m_cancel->setEnabled(cancellable);
    // The Close command goes through reject(), which then does nothing.
    // (Changing the window's flags here would hide a shown window.)
}

void ProgressWindow::reject() {
    if (!m_cancellable)
        return;
    if (m_onCancel)
        m_onCancel();
    else
        done(2);
}

void ProgressWindow::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // After the modal loop has started, so that posted ends reach it.
    if (m_onReady)
        QTimer::singleShot(0, this, [this] {
            if (m_onReady)
                m_onReady();
        });
}

int ProgressWindow::RunModal() {
    return exec();
}

void SetBarRange(QProgressBar *bar, int maximum) {
    bar->setRange(0, qMax(maximum, 1));
    if (maximum <= 0)
        bar->setValue(0);
}

QWidget *ActiveOwner() {
    return qobject_cast<QApplication *>(QCoreApplication::instance()) ? QApplication::activeWindow()
                                                                      : nullptr;
}

} // namespace krv::setup
