// The stress-test window: prints receipts in a loop and shows how long each
// one took.
//
// A run stays on the user-interface thread: after every receipt the window
// handles its pending events (so "Остановить" is heard) and pauses. Closing
// the window while a run goes on stops the run instead.
#pragma once

#include <QDialog>
#include <QString>

#include <cstdint>

class QCloseEvent;
class QEventLoop;
class QLabel;
class QLineEdit;
class QPushButton;
class QSpinBox;

class TForm2 : public QDialog {
    Q_OBJECT
  public:
    explicit TForm2(QWidget *parent = nullptr);

    QLineEdit *Edit1 = nullptr;     // first article code of a run
    QSpinBox *SpinEdit1 = nullptr;  // positions per receipt
    QLabel *Label4 = nullptr;       // printing time of the last receipt, ms
    QLabel *Label5 = nullptr;       // largest printing time seen, ms
    QLabel *Label7 = nullptr;       // time of the whole last receipt, ms
    QLabel *Label9 = nullptr;       // positions of the last receipt
    QLabel *Label11 = nullptr;      // the note on tax rates
    QPushButton *Button1 = nullptr; // "Запустить"
    QPushButton *Button2 = nullptr; // "Остановить"
    QPushButton *Button3 = nullptr; // "Выход"

    bool Running() const;
    // The log file of a run ("Logo.txt" in the current folder) and the pause
    // after each receipt (2000 ms); tests and the benchmark change them.
    void SetLogPath(const QString &path) { m_logPath = path; }
    void SetReceiptPause(int milliseconds) { m_pauseMs = milliseconds; }

  public slots:
    void FormCreate();
    void Button1Click(); // "Запустить"
    void Button2Click(); // "Остановить"
    void Button3Click(); // "Выход"

    // Escape and the close box stop a running run instead of hiding it.
    void reject() override;

  protected:
    void closeEvent(QCloseEvent *event) override;

  private:
    // The three buttons of a running (true) or stopped run.
    void SetRunButtons(bool running);
    void StopWithError(const QString &text);
    void Pause();

    bool m_stopRequested = false; // StressStopRequested
    int64_t m_lastPrintTime = 0;  // LastPrintTime, ms
    int64_t m_receiptTotal = 0;   // StressReceiptTotal, kopecks
    QString m_logPath;
    int m_pauseMs;
    QEventLoop *m_pauseLoop = nullptr;
};
