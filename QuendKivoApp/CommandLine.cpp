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
