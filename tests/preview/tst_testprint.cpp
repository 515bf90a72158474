// The window's test print: its button sends a receipt in the window's language through CUPS to a capture printer.

#include "app/LanguageChoice.h"
#include "printing/CodePages.h"
#include "printing/Printer.h"
#include "support/CapturePrinter.h"
#include "support/TestMain.h"
#include "ui/UiRig.h"

class TestTestPrint : public QObject
{
    Q_OBJECT

    // A text as the job's encoder sends it, without the page select it starts with.
    static QByteArray encoded(const QString& text) { return CodePages::encodeText(text, false).mid(3); }

    static QQuickItem* rowItem(QQuickItem* root, const QString& printer, const QString& name)
    {
        for (QQuickItem* child : root->childItems()) {
            if (child->objectName() == QLatin1String("printerName") && child->property("text") == printer)
                return UiRig::find(child->parentItem(), name);
            if (QQuickItem* found = rowItem(child, printer, name))
                return found;
        }
        return nullptr;
    }

private slots:
    // The row's button sends the receipt in the window's language, with everything it shows off, and shows the
    // outcome; a printer that is not ready turns it off and refuses the test print.
    void button()
    {
        QLK_REQUIRE_CUPS();
        Resources::init(); // the logo
        // No system language behind it: an untranslated text of the receipt would show in English.
        QTranslator translator;
        QVERIFY(translator.load(LanguageChoice::translationFile(qEnvironmentVariable("QLK_BUILD_DIR"), "pt_PT")));
        QCoreApplication::installTranslator(&translator);
        CapturePrinter capture;
        QVERIFY2(capture.isValid(), qPrintable(capture.errorString()));
        UiRig rig;
        QVERIFY(rig.showWindow());
        rig.setState("config");
        // Looked up afresh each time: every printer discovery (3 s) makes the rows anew.
        const auto button = [&] {
            return rowItem(rig.window()->contentItem(), capture.queueName(), "testPrintButton");
        };
        const auto result = [&] { return button() ? rig.item("testPrintResult", button()->parentItem()) : nullptr; };
        QTRY_VERIFY_WITH_TIMEOUT(button() != nullptr, 20000);
        QVERIFY(rig.click(button()));
        QTRY_VERIFY_WITH_TIMEOUT(result() && result()->isVisible() && result()->property("sent").toBool(), 30000);
        QVERIFY(capture.waitForJobs(1));
        const QByteArray job = capture.jobs().constFirst();
        for (const QString& text : QStringList{
                 "Página de teste", "Esquerda", "Centro", "Direita", "Tamanho duplo", "Letra condensada, 64 caracteres",
                 "Quorva Link\n", capture.queueName(), QDate::currentDate().toString("yyyy-MM-dd"), QLK_VERSION,
                 "áàâãéêíóôõúç ÁÀÂÃÉÊÍÓÔÕÚÇ ñÑ ¿¡ 12,50 €", QStringLiteral("1234567890").repeated(7).left(64) + '\n'})
            QVERIFY2(job.contains(encoded(text)), qPrintable(text));
        // Whole: the logo's first stripe in, the cut at the end.
        QVERIFY(job.contains(QByteArray::fromHex("1B 2A 21 AF 00")));
        QVERIFY(job.endsWith(QByteArray::fromHex("1D 56 42 0A")));

        QVERIFY(CupsQueue::run(QStringLiteral("cupsdisable"), {capture.queueName()}));
        rig.client()->updatePrinters();
        QTRY_VERIFY_WITH_TIMEOUT(button() && !button()->isEnabled(), 20000);
        Printer printer(capture.queueName());
        printer.printTest(false);
        QTRY_COMPARE_WITH_TIMEOUT(printer.testPrint(), Printer::TestFailed, 30000);
        QCOMPARE(capture.jobs().size(), 1);
    }
};

QLK_TEST_MAIN(TestTestPrint)
#include "tst_testprint.moc"
