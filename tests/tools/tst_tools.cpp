// Tests of the message boxes and input boxes: the replaceable interface and the Qt boxes.
#include "kiv_prompts.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScopeGuard>
#include <QTest>
#include <QThread>
#include <QTimer>

#include <thread>

class TestTools : public QObject {
    Q_OBJECT
private slots:
    void prompterReplaceable();
    void askYesNoDefaultsToNoAndShowsAmpersand();
};

class TRecordingPrompter : public TkivPrompter {
public:
    QStringList Calls;
    bool Answer = true;
    void Info(const QString& M) override { Calls << "Info:" + M; }
    void Error(const QString& M) override { Calls << "Error:" + M; }
    bool YesNo(const QString& M, bool DefaultNo) override {
        Calls << QStringLiteral("YesNo:%1:%2").arg(M).arg(DefaultNo);
        return Answer;
    }
    bool InputText(const QString& C, const QString& P, QString& Text) override {
        Calls << "Input:" + C + ":" + P + ":" + Text;
        Text = "neu";
        return Answer;
    }
};

void TestTools::prompterReplaceable() {
    TRecordingPrompter R;
    SetPrompter(&R);
    const auto Restore = qScopeGuard([] { SetPrompter(nullptr); });
    ShowInfo("i");
    ShowError("e");
    QVERIFY(AskYesNo("a & b"));
    R.Answer = false;
    QVERIFY(!AskYesNo("f", false));
    QString Text = "alt";
    QVERIFY(!InputQuery("Titel", "Frage", Text));
    // From a worker thread the question is asked on the GUI thread.
    bool WorkerAnswer = true;
    QThread* AskedOn = nullptr;
    struct TThreadPrompter : TRecordingPrompter {
        QThread** Where;
        bool YesNo(const QString& M, bool D) override {
            *Where = QThread::currentThread();
            return TRecordingPrompter::YesNo(M, D);
        }
    } T;
    T.Where = &AskedOn;
    T.Answer = false;
    SetPrompter(&T);
    std::thread Worker([&] { WorkerAnswer = AskYesNo("vom Arbeiter"); });
    QTRY_VERIFY(AskedOn);
    Worker.join();
    QVERIFY(AskedOn == QThread::currentThread());
    QVERIFY(!WorkerAnswer);
    SetPrompter(nullptr);
    QCOMPARE(R.Calls, (QStringList{"Info:i", "Error:e", "YesNo:a & b:1", "YesNo:f:0",
                                   "Input:Titel:Frage:alt"}));
    QVERIFY(&Prompter() != &R);
}

void TestTools::askYesNoDefaultsToNoAndShowsAmpersand() {
    // The Qt message box: the text keeps its "&", Return at once answers No (or Yes when
    // DefaultNo is false).
    for (const bool DefaultNo : {true, false}) {
        QString Shown;
        QString DefaultText;
        QTimer::singleShot(100, this, [&] {
            auto* Box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            QVERIFY(Box);
            for (QLabel* L : Box->findChildren<QLabel*>())
                if (L->text().contains("Tom"))
                    Shown = L->text();
            DefaultText = Box->defaultButton() ? Box->defaultButton()->text() : QString();
            QTest::keyClick(Box, Qt::Key_Return);
        });
        const bool Answer = AskYesNo("Tom & Jerry <b>löschen</b>?", DefaultNo);
        QCOMPARE(Answer, !DefaultNo);
        QCOMPARE(Shown, QStringLiteral("Tom & Jerry <b>löschen</b>?"));
        QCOMPARE(DefaultText, DefaultNo ? QStringLiteral("&Nein") : QStringLiteral("&Ja"));
    }
}

QTEST_MAIN(TestTools)
#include "tst_tools.moc"
