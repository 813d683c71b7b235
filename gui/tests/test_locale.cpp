// The desktop program under a locale that writes decimal commas: the run log
// and the result files must still carry decimal points. The program is
// started as a child process, so that its application object takes the
// locale from the environment as it does for a user.

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <clocale>
#include <cstdio>
#include <cstring>

#include "suites.hpp"

namespace velmora::gui::test {

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Whether the locale in `locpath` formats 0.9 as "0,900", checked in this
// process without changing its own locale.
bool writes_decimal_commas(const QByteArray& locpath, const char* name) {
    const QByteArray saved = qgetenv("LOCPATH");
    qputenv("LOCPATH", locpath);
    const locale_t comma = newlocale(LC_NUMERIC_MASK, name, static_cast<locale_t>(nullptr));
    bool commas = false;
    if (comma != static_cast<locale_t>(nullptr)) {
        const locale_t previous = uselocale(comma);
        char text[16];
        std::snprintf(text, sizeof text, "%.3f", 0.9);
        commas = std::strcmp(text, "0,900") == 0;
        uselocale(previous);
        freelocale(comma);
    }
    if (saved.isNull()) {
        qunsetenv("LOCPATH");
    } else {
        qputenv("LOCPATH", saved);
    }
    return commas;
}

}  // namespace

class LocaleTest : public QObject {
    Q_OBJECT
  private slots:
    void run_under_a_comma_locale_writes_decimal_points() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        // A German locale of our own, so the test does not depend on the
        // locales the system happens to have.
        const QString locales = dir.filePath("locales");
        QVERIFY(QDir().mkpath(locales));
        QProcess localedef;
        localedef.start("localedef",
                        {"-i", "de_DE", "-f", "UTF-8", QDir(locales).filePath("de_DE.UTF-8")});
        if (!localedef.waitForFinished(120000) || localedef.exitCode() > 1) {
            // localedef exits 1 for mere warnings; anything worse means the
            // locale sources (package "locales") are missing.
            QSKIP("localedef cannot build de_DE.UTF-8 here");
        }
        if (!writes_decimal_commas(QFile::encodeName(locales), "de_DE.UTF-8")) {
            QSKIP("the locale built with localedef does not write decimal commas");
        }

        const QString work = dir.filePath("work");
        QVERIFY(QDir().mkpath(work));
        QVERIFY(QFile::copy(VELMORA_SOURCE_DIR "/data/eustockmarkets_returns.txt",
                            QDir(work).filePath("TassidiCambio.txt")));
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("LOCPATH", locales);
        env.insert("LC_ALL", "de_DE.UTF-8");
        env.insert("QT_QPA_PLATFORM", "offscreen");
        program.setProcessEnvironment(env);
        program.setWorkingDirectory(work);
        // The screenshot mode makes one run with the default parameters.
        program.start(VELMORA_GUI_PATH, {"--screenshots", dir.filePath("shots")});
        QVERIFY(program.waitForFinished(300000));
        QCOMPARE(program.exitCode(), 0);

        const QByteArray log = contents(QDir(work).filePath("Output.txt"));
        QVERIFY2(log.contains("pcross =0.900\npmutation =0.001\n"), log.constData());
        QVERIFY2(log.contains("scalemult =1.200\n"), log.constData());
        QVERIFY2(log.contains("randomseed=0."), log.constData());
        const QStringList reports = QDir(work).entryList({"OutputThreshold*.txt"}, QDir::Files);
        QCOMPARE(reports.size(), 1);
        const QByteArray report = contents(QDir(work).filePath(reports.front()));
        // The clock picks the run's seed, and a report may end early (a regime
        // with too few observations); its threshold lines are always there.
        QVERIFY2(QString::fromLatin1(report).contains(
                     QRegularExpression("Threshold( 1)? = -?[0-9]+\\.[0-9]{6}\n")),
                 report.left(400).constData());
        // Every number of the report has a decimal point, none a decimal
        // comma (the pairs "(2,1)" of two threshold variables are no numbers).
        QVERIFY2(!QString::fromLatin1(report).contains(QRegularExpression("[0-9],[0-9]{5}")),
                 report.left(400).constData());
    }
};

int run_locale_tests(int argc, char** argv) {
    LocaleTest t;
    return QTest::qExec(&t, argc, argv);
}

}  // namespace velmora::gui::test

#include "test_locale.moc"
