// Stadiolink.exe as Windows starts it: a GUI-subsystem program whose --help,
// --version and refusal of an unknown option reach the caller's redirected
// output, also when it was started from a console, with the command line read
// as wide characters; its window opens with Qt's Windows platform plug-in.

#include <QtTest>

#include <QProcess>

#include <cwchar>
#include <memory>

#include <windows.h>

class TestWindowsProgram : public QObject
{
    Q_OBJECT

    struct Run {
        int code = -1;
        QString out, err;
    };
    Run run(const QStringList &arguments)
    {
        QProcess p;
        p.start(qEnvironmentVariable("STADIOLINK_EXE"), arguments);
        Run r;
        if (!p.waitForFinished(60000))
            return r;
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromUtf8(p.readAllStandardOutput());
        r.err = QString::fromUtf8(p.readAllStandardError());
        return r;
    }

private slots:
    void versionAndHelpReachARedirectedOutput()
    {
        const Run version = run({QStringLiteral("--version")});
        QCOMPARE(version.code, 0);
        QCOMPARE(version.out, QStringLiteral("Stadiolink %1 (Qt %2)\r\n")
                                  .arg(QStringLiteral(STADIOLINK_VERSION), QString::fromLatin1(qVersion())));
        QCOMPARE(version.err, QString());

        const Run help = run({QStringLiteral("/?")});
        QCOMPARE(help.code, 0);
        QVERIFY2(help.out.startsWith(QStringLiteral("Usage: Stadiolink [DEVICE NAME]\r\n"))
                     || help.out.startsWith(QStringLiteral("Использование")),
                 qPrintable(help.out));
        // Windows separates the port list with ";".
        QVERIFY(help.out.contains(QStringLiteral("\";\"")));
        QVERIFY(!help.out.contains(QStringLiteral("\r\r\n")));
    }

    void unknownOptionIsQuotedWithEveryCharacter()
    {
        const QString option = QStringLiteral("-Съёмка№5ü");
        const Run r = run({option});
        QCOMPARE(r.code, 2);
        QCOMPARE(r.out, QString());
        QVERIFY2(r.err.startsWith(QStringLiteral("Stadiolink: unknown option %1\r\n").arg(option))
                     || r.err.contains(option + QStringLiteral("\r\n")),
                 qPrintable(r.err));
    }

    // Started from a console with its output redirected (as cmd.exe does
    // for "Stadiolink --version > file"): the text goes where it was sent,
    // not to the console.
    void redirectedOutputWinsOverTheConsole()
    {
        const bool ownConsole = AllocConsole();
        QVERIFY2(ownConsole || GetLastError() == ERROR_ACCESS_DENIED, // has one already
                 qPrintable(QString::number(GetLastError())));
        const Run version = run({QStringLiteral("--version")});
        const Run refused = run({QStringLiteral("--nonsense")});
        if (ownConsole)
            FreeConsole();
        QCOMPARE(version.code, 0);
        QVERIFY2(version.out.startsWith(QStringLiteral("Stadiolink ")), qPrintable(version.out));
        QCOMPARE(refused.code, 2);
        QVERIFY2(refused.err.startsWith(QStringLiteral("Stadiolink: unknown option --nonsense")),
                 qPrintable(refused.err));
    }

    // The program chooses Qt's Windows platform plug-in itself, whatever the
    // environment says: its window is a real top-level window, in Russian.
    void opensItsWindowWithTheWindowsPlugin()
    {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        p.setProcessEnvironment(env);
        p.start(qEnvironmentVariable("STADIOLINK_EXE"), {QStringLiteral("TS16")});
        QVERIFY(p.waitForStarted(60000));
        // Ended also when a check fails.
        const std::unique_ptr<QProcess, void (*)(QProcess *)> killer(&p, [](QProcess *q) {
            if (q->state() != QProcess::NotRunning) {
                q->kill();
                q->waitForFinished(10000);
            }
        });
        // The program's own visible top-level window with that title (a
        // test running beside this one may show a window of the same name;
        // the window exists a moment before it is shown).
        struct Search {
            DWORD pid;
            HWND found;
        } search{DWORD(p.processId()), nullptr};
        const auto visibleWindowOf = [](HWND w, LPARAM param) -> BOOL {
            auto *s = reinterpret_cast<Search *>(param);
            DWORD owner = 0;
            wchar_t title[64] = {};
            GetWindowThreadProcessId(w, &owner);
            GetWindowTextW(w, title, 64);
            if (owner == s->pid && IsWindowVisible(w) && wcscmp(title, L"Драйвер Stadiolink") == 0) {
                s->found = w;
                return FALSE;
            }
            return TRUE;
        };
        QTRY_VERIFY_WITH_TIMEOUT((EnumWindows(visibleWindowOf, LPARAM(&search)), search.found != nullptr),
                                 60000);
        PostMessageW(search.found, WM_CLOSE, 0, 0);
        QVERIFY(p.waitForFinished(60000));
        QCOMPARE(p.exitStatus(), QProcess::NormalExit);
        QCOMPARE(p.exitCode(), 0);
    }
};

QTEST_GUILESS_MAIN(TestWindowsProgram)
#include "test_windows_program.moc"
