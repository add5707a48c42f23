// Feeds mutated property lists to the reader; run by hand:
//   build/bench/PropertyListFuzz [iterations] [seed file ...]
// A finding ends the program (an abort or a sanitizer report) and leaves
// the input that caused it in PropertyListFuzz-crash.plist.

#include "KivoCore/support/PropertyList.h"

#include <QByteArray>
#include <QFile>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <random>
#include <unistd.h>

namespace {
// A binary dictionary whose key holds U+0000, and a well-formed XML one.
const QByteArray builtInSeeds[] = {
    QByteArray::fromHex("62706c6973743030d101026200e9000009080b1000000000000001010000000000000003000000000000"
                        "00000000000000000011"),
    QByteArray("<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>RotorType</key><string>DCU-1</string>"
               "<key>tcpPortAz</key><integer>4001</integer><key>AutoConnect</key><true/></dict></plist>"),
};

// The input under test, written out only when the program dies on it.
const QByteArray *current = nullptr;
int crashFile = -1;

void keepInput(int signal)
{
    if (current && crashFile >= 0)
        (void)::write(crashFile, current->constData(), size_t(current->size()));
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

QByteArray mutated(QByteArray bytes, std::mt19937 &random)
{
    const int edits = 1 + int(random() % 8);
    for (int i = 0; i < edits && !bytes.isEmpty(); ++i) {
        const qsizetype at = qsizetype(random() % quint32(bytes.size()));
        switch (random() % 4) {
        case 0: bytes[at] = char(random()); break;
        case 1: bytes[at] = char(0); break;
        case 2: bytes.insert(at, char(random())); break;
        default: bytes.remove(at, 1); break;
        }
    }
    return bytes;
}
} // namespace

int main(int argc, char **argv)
{
    const long iterations = argc > 1 ? std::atol(argv[1]) : 100000;
    QList<QByteArray> seeds(std::begin(builtInSeeds), std::end(builtInSeeds));
    for (int i = 2; i < argc; ++i) {
        QFile file(QString::fromLocal8Bit(argv[i]));
        if (file.open(QIODevice::ReadOnly))
            seeds.append(file.readAll());
    }
    std::mt19937 random(20261209);
    crashFile = ::open("PropertyListFuzz-crash.plist", O_WRONLY | O_CREAT | O_TRUNC, 0644);
    for (int signal : {SIGABRT, SIGSEGV, SIGBUS, SIGFPE})
        std::signal(signal, keepInput);
    for (long n = 0; n < iterations; ++n) {
        const QByteArray input = mutated(seeds.at(qsizetype(random() % quint32(seeds.size()))), random);
        current = &input;
        kivo::parsePropertyListDictionary(input);
    }
    current = nullptr;
    ::close(crashFile);
    ::unlink("PropertyListFuzz-crash.plist");
    std::printf("%ld inputs, no finding\n", iterations);
    return 0;
}
