#include "stress_test_window.h"

#include "console_state.h"
#include "console_windows.h"
#include "driver_binding.h"
#include "driver_error_box.h"
#include "message_layer.h"
#include "receipt_logic.h"
#include "stress_plan.h"
#include "widgets.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

using namespace krv::console;

namespace {} // namespace

TForm2::TForm2(QWidget *parent)
    : QDialog(parent), m_logPath(QString::fromLatin1(kStressLogName)), m_pauseMs(kStressPauseMs) {
    setObjectName("Form2");
    SetFixedWindow(*this, "Стресс-тест", 330, 262, true);

    LayoutBuilder b(this);
    b.label("Начать с товара под номером:", 8, 12);
    Edit1 = b.edit("Edit1", {220, 8, 100, 21}, 0);
    b.label("Количество позиций в чеке:", 8, 40);
    SpinEdit1 = b.spinEdit("SpinEdit1", {220, 36, 100, 21}, 1, 255, 1, 3);

    b.label("Время печати последнего чека, мс: ", 8, 72);
    Label4 = b.label("0", {250, 72, 70, 14}, "Label4");
    b.label("Максимальное время печати чека, мс:", 8, 92);
    Label5 = b.label("0", {250, 92, 70, 14}, "Label5");
    b.label("Общее время формирования \r\nи печати последнего чека, мс:", 8, 112);
    Label7 = b.label("0", {250, 125, 70, 14}, "Label7");
    b.label("Кол- во товаров в последнем чеке:", 8, 146);
    Label9 = b.label("0", {250, 146, 70, 14}, "Label9");
    Label11 = b.label("Для корректной работы стресс-теста\r\n  должны быть запрограммированы \r\n"
                      "           все налоговые ставки.",
                      8, 172, "Label11");

    Button1 = b.button("Button1", "Запустить", {8, 228, 100, 25});
    Button2 = b.button("Button2", "Остановить", {115, 228, 100, 25});
    Button3 = b.button("Button3", "Выход", {222, 228, 100, 25});
    ConnectHandlersByName(*this, *this);
    FormCreate();
}

void TForm2::FormCreate() {
    m_lastPrintTime = 0;
    // Nothing runs yet, so there is nothing to stop.
    Button2->setEnabled(false);
    m_stopRequested = false;
}

void TForm2::SetRunButtons(bool running) {
    Button1->setEnabled(!running);
    Button3->setEnabled(!running);
    Button2->setEnabled(running);
}

void TForm2::StopWithError(const QString &text) {
    SetRunButtons(false);
    ShowMessage(this, kErrorBoxCaption, text, Icon::Error, Buttons::Ok);
}

void TForm2::Button2Click() {
    SetRunButtons(false);
    m_stopRequested = true;
    // A stop heard during the pause ends the pause at once.
    if (m_pauseLoop)
        m_pauseLoop->quit();
}

void TForm2::Button3Click() {
    // The access code must be typed again for the next test.
    if (QWidget *mainWindow = Windows().Form1) {
        if (QWidget *stress = mainWindow->findChild<QWidget *>(QStringLiteral("Button42")))
            stress->setEnabled(false);
        if (auto *code = mainWindow->findChild<QLineEdit *>(QStringLiteral("Edit23")))
            code->clear();
    }
    close();
}

bool TForm2::Running() const {
    return State().StressTestRunning;
}

void TForm2::closeEvent(QCloseEvent *event) {
    // The run would go on printing behind a hidden window with no way to
    // stop it: the close stops the run and is refused this time.
    if (Running()) {
        Button2Click();
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void TForm2::reject() {
    if (Running()) {
        Button2Click();
        return;
    }
    QDialog::reject();
}

void TForm2::Pause() {
    if (m_pauseMs <= 0 || m_stopRequested)
        return;
    QEventLoop wait;
    QTimer::singleShot(m_pauseMs, &wait, &QEventLoop::quit);
    m_pauseLoop = &wait;
    wait.exec();
    m_pauseLoop = nullptr;
}

void TForm2::Button1Click() {
    if (Running())
        return;
    SetRunButtons(true);
    if (!ResetStressLog(m_logPath)) {
        StopWithError(StressLogErrorText());
        return;
    }
    int receiptNumber = 1;
    // A start code that is no number is an input error, not a run from 1.
    const StartCodeParse start = ParseStressStartCode(Edit1->text());
    if (!start.ok) {
        StopWithError(start.error);
        return;
    }
    int64_t code = start.code;
    m_stopRequested = false;
    if (!StressPositionsValid(SpinEdit1->value())) {
        StopWithError(StressPositionsErrorText());
        return;
    }

    State().StressTestRunning = true;
    QElapsedTimer clock;
    clock.start();
    while (!m_stopRequested) {
        const int positions = SpinEdit1->value();
        m_lastPrintTime = 0;
        m_receiptTotal = 0;
        Label9->setText(QString::number(positions));
        const int64_t t0 = clock.elapsed();

        const StressReceipt receipt = PlanStressReceipt(code, positions);
        bool failed = false;
        for (const StressSale &sale : receipt.sales) {
            LineRequest request;
            request.quantity = 1;
            request.qtyFlags = 0;
            request.price = sale.price;
            request.taxGroup = sale.taxGroup;
            request.name = sale.name;
            request.code = sale.code;
            LineOutcome outcome;
            if (!CallLine(LineCommand::Sale, request, outcome)) {
                // The receipt stays open; it can be voided on "Операции".
                ShowDriverError(this);
                SetRunButtons(false);
                failed = true;
                break;
            }
            m_receiptTotal += sale.price;
        }
        if (failed)
            break;
        // Codes keep counting across the receipts of a run.
        code = static_cast<int64_t>(static_cast<uint64_t>(code) + static_cast<uint64_t>(positions));

        const int64_t t1 = clock.elapsed();
        PaymentRequest payment;
        payment.form = static_cast<uint8_t>(kCashPaymentForm);
        payment.paid = static_cast<int32_t>(m_receiptTotal);
        payment.payRest = -1;
        payment.fiscal = 0;
        PaymentOutcome paid;
        if (!CallPayment(payment, paid)) {
            SetRunButtons(false);
            ShowDriverError(this);
            break;
        }
        const int64_t t2 = clock.elapsed();
        m_lastPrintTime = t2 - t1;
        Label4->setText(QString::number(m_lastPrintTime));
        Label5->setText(StressMaxText(Label5->text(), m_lastPrintTime));
        Label7->setText(QString::number(t2 - t0));

        QCoreApplication::processEvents();
        repaint();

        if (!AppendStressLog(m_logPath, StressLogLine(receiptNumber, m_lastPrintTime, t2 - t0,
                                                      Label5->text()))) {
            StopWithError(QStringLiteral("Программе не удается записать файл отчета!"));
            break;
        }
        ++receiptNumber;
        Pause();
    }
    State().StressTestRunning = false;
}
