#include "app/commandline.h"

#include "core/cutsession.h"
#include "core/numbertext.h"
#include "core/savetarget.h"
#include "platform/qtfilesystem.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QTranslator>

#include <cstdio>

namespace {

void printLine(FILE *to, const QString &text)
{
    std::fputs(qPrintable(text + u'\n'), to);
}

/// The session's questions answered from the arguments, its messages on standard error.
class CommandLinePrompts : public Prompts
{
public:
    explicit CommandLinePrompts(bool overwrite)
        : m_overwrite(overwrite)
    {
    }

    std::optional<QString> askOpenFile(const QString &, const QString &) override { return std::nullopt; }
    std::optional<QString> askSaveFile(const QString &, const QString &) override { return std::nullopt; }
    bool askYesNo(const QString &text, const QString &) override
    {
        if (!m_overwrite)
            printLine(stderr, QString(text).replace(u'\n', u' ') + QStringLiteral(" (加 --overwrite 即可替换)"));
        return m_overwrite;
    }
    void tell(const QString &text, Icon, const QString &) override
    {
        printLine(stderr, QString(text).replace(u'\n', u' '));
    }

private:
    bool m_overwrite = false;
};

QString helpEpilogue()
{
    return QStringLiteral("\n"
                          "时间可写成秒数（12.5）或 [时:]分:秒[.毫秒]（0:12.5、1:02:03）。\n"
                          "不带 --cut 时打开窗口；给出 FILE 则直接选中该文件。\n"
                          "\n"
                          "退出状态：\n"
                          "  0  已写出铃声，其路径打印在标准输出\n"
                          "  1  剪切被拒绝或失败，什么也没有写出\n"
                          "  2  参数有误\n");
}

void describe(QCommandLineParser &parser)
{
    parser.setApplicationDescription(QStringLiteral("青禾MP3剪切器：不解码、不重新编码，从MP3中剪出一段做铃声。"));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("cut"), QStringLiteral("不开窗口，剪出 START 到 END 的一段。")});
    parser.addOption({{QStringLiteral("o"), QStringLiteral("output")},
                      QStringLiteral("写到 OUT（未以 .mp3 结尾时加上 .mp3），而不是歌曲旁的“[铃声]1”+歌名。"),
                      QStringLiteral("OUT")});
    parser.addOption({QStringLiteral("overwrite"), QStringLiteral("输出文件已存在时替换它。")});
    parser.addPositionalArgument(QStringLiteral("START END"), QStringLiteral("与 --cut 一起：铃声的起点和终点。"),
                                 QStringLiteral("[--cut START END]"));
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("MP3文件。"), QStringLiteral("[FILE]"));
}

int usage(const QString &message)
{
    printLine(stderr, message);
    printLine(stderr, QStringLiteral("用法：mp3cutter --cut START END FILE [-o OUT] [--overwrite]；详见 mp3cutter --help"));
    return CommandLineUsage;
}

QString absoluteNative(const QString &path)
{
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

} // namespace

bool wantsCommandLine(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const QByteArray arg(argv[i]);
        if (arg == "--cut" || arg == "--help" || arg == "-h" || arg == "--help-all" || arg == "--version"
            || arg == "-v")
            return true;
    }
    return false;
}

int runCommandLine(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mp3cutter"));
    QCoreApplication::setApplicationVersion(QStringLiteral(PROJECT_VERSION));

    // Qt's own option texts in Chinese too; loaded only for the help, so a cut does not wait for it.
    QTranslator qtTexts;
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"))
        || arguments.contains(QStringLiteral("--help-all"))) {
        if (qtTexts.load(QStringLiteral("qt_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            QCoreApplication::installTranslator(&qtTexts);
    }
    QCommandLineParser parser;
    describe(parser);
    if (!parser.parse(arguments))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText() + helpEpilogue()), stdout);
        return CommandLineOk;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        printLine(stdout, QStringLiteral("mp3cutter ") + QCoreApplication::applicationVersion());
        return CommandLineOk;
    }

    const QStringList args = parser.positionalArguments();
    if (args.size() != 3)
        return usage(QStringLiteral("--cut 需要 START、END 和 FILE 三个参数。"));
    const auto start = timeTextSeconds(args[0]);
    const auto end = timeTextSeconds(args[1]);
    if (!start || !end)
        return usage(QStringLiteral("无法识别的时间：%1").arg(!start ? args[0] : args[1]));
    QtFileSystem files;
    CommandLinePrompts prompts(parser.isSet(QStringLiteral("overwrite")));
    CutSession session(files, prompts, nullptr, nullptr);
    if (parser.isSet(QStringLiteral("output")))
        session.setPieceName(withMp3Extension(absoluteNative(parser.value(QStringLiteral("output")))));

    const QString file = absoluteNative(args[2]);
    if (!session.openSourceNow(file))
        return CommandLineFailed;
    bool ok = false;
    QEventLoop loop;
    QObject::connect(&session, &CutSession::cutEnded, &loop, [&](bool done) {
        ok = done;
        loop.quit();
    });
    session.markStartAt(*start);
    session.markEndAndCutAt(*end);
    if (!session.cutRunning()) {
        // Marks that cannot make a piece are wrong arguments; a song that cannot give one is not.
        const auto problem = session.markProblem();
        const bool badMarks = problem == MarkProblem::EndNotAfterStart || problem == MarkProblem::TooClose;
        return badMarks ? CommandLineUsage : CommandLineFailed;
    }
    loop.exec();
    if (!ok)
        return CommandLineFailed;
    printLine(stdout, session.keptPieceName());
    return CommandLineOk;
}
