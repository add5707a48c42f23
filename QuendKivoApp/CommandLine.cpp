#include "QuendKivoApp/CommandLine.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace kivo {

namespace {

QString usage(const QCommandLineParser &parser, const QString &program, const QString &settingsFile)
{
    // Read before the application object exists, Qt's text names no program.
    return parser.helpText().replace(QStringLiteral("<executable_name>"), program)
           + QStringLiteral("\nSettings are read from %1 (INI, the JSON record under \"configuration\").\n"
                            "\nEnvironment:\n"
                            "  XDG_CONFIG_HOME   where the settings folder lives; another one is another profile\n"
                            "  XDG_RUNTIME_DIR   also holds the lock that keeps one copy per profile\n"
                            "  HOME              its .config holds the settings folder without XDG_CONFIG_HOME\n"
                            "  TMPDIR            holds the socket a second start reaches the running copy by,\n"
                            "                    and without XDG_RUNTIME_DIR that lock (default /tmp)\n"
                            "  DISPLAY, WAYLAND_DISPLAY\n"
                            "                    without either the bridge runs offscreen, still serving\n"
                            "  QT_QPA_PLATFORM   Qt's platform plug-in, such as offscreen\n"
                            "  QT_LOGGING_RULES  tracing to standard error, such as\n"
                            "                    com.tarnvale.QuendKivo.*.debug=true\n")
                 .arg(settingsFile);
}

} // namespace

QStringList withoutQtOptions(const QStringList &arguments)
{
    // As Qt 6 and its X11 and Wayland plug-ins read them, with one dash or two.
    static const QStringList withValue{
        QStringLiteral("platform"),   QStringLiteral("platformpluginpath"), QStringLiteral("platformtheme"),
        QStringLiteral("plugin"),     QStringLiteral("qwindowgeometry"),    QStringLiteral("geometry"),
        QStringLiteral("qwindowicon"), QStringLiteral("icon"),              QStringLiteral("qwindowtitle"),
        QStringLiteral("title"),      QStringLiteral("session"),            QStringLiteral("display"),
        QStringLiteral("name"),       QStringLiteral("style"),              QStringLiteral("stylesheet")};
    static const QStringList withEquals{QStringLiteral("style"), QStringLiteral("stylesheet"),
                                        QStringLiteral("qmljsdebugger"), QStringLiteral("dialogs"),
                                        QStringLiteral("fontengine")};
    static const QStringList flags{QStringLiteral("reverse"), QStringLiteral("widgetcount"),
                                   QStringLiteral("testability"), QStringLiteral("nograb"),
                                   QStringLiteral("dograb"), QStringLiteral("sync")};
    QStringList kept = arguments.mid(0, 1);
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        QStringView name(argument);
        if (name.startsWith(QLatin1String("--")))
            name = name.sliced(2);
        else if (name.startsWith(u'-'))
            name = name.sliced(1);
        else {
            kept.append(argument);
            continue;
        }
        const qsizetype equals = name.indexOf(u'=');
        if (equals > 0 && withEquals.contains(name.first(equals)))
            continue;
        if (equals < 0 && withValue.contains(name)) {
            ++i;
            continue;
        }
        if (equals < 0 && flags.contains(name))
            continue;
        kept.append(argument);
    }
    return kept;
}

CommandLineRequest parseCommandLine(const QStringList &arguments, const QString &settingsFile)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quend-Kivo bridges logging software to a FlexRadio station: Kenwood-style CAT and "
                       "Hamlib rigctld-style control on loopback TCP ports, RUMlog spots on the panadapter, a "
                       "DCU-1 rotator and HF propagation."));
    // Not addHelpOption(): it also offers --help-all, whose Qt options only
    // QCommandLineParser::process() prints, and only by exiting.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    if (!parser.parse(arguments))
        return {.run = false,
                .text = parser.errorText() + QStringLiteral("\n\n") + usage(parser, arguments.value(0), settingsFile),
                .exitCode = 2,
                .toStandardError = true};
    if (parser.isSet(help))
        return {.run = false, .text = usage(parser, arguments.value(0), settingsFile)};
    if (parser.isSet(version))
        return {.run = false,
                .text = QCoreApplication::applicationName() + u' ' + QCoreApplication::applicationVersion()
                        + u'\n'};
    if (!parser.positionalArguments().isEmpty())
        return {.run = false,
                .text = QStringLiteral("Unexpected argument: %1\n\n").arg(parser.positionalArguments().first())
                        + usage(parser, arguments.value(0), settingsFile),
                .exitCode = 2,
                .toStandardError = true};
    return {};
}

} // namespace kivo
