// The answer box's key mapping, one input byte per key, on a real window
// without a display. The expected codes are written out from the
// Windows-1252 table rather than computed with the game's own helpers.
#include "ScriptedServices.h"
#include "Tavola.h"

#include <QApplication>
#include <QLineEdit>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// The window's counters are 16-bit: a new game comes before they could
// overflow, however many Enters the inputs hold.
constexpr int counterCeiling = 30000;

QTemporaryDir *directory = nullptr;
ScriptedServices *services = nullptr;
Tavola *tavola = nullptr;

void newGame()
{
    delete tavola;
    services->texts.clear();
    services->texts << QStringLiteral("Anna") << QStringLiteral("100");
    tavola = new Tavola(*services, records::Location{directory->path(), directory->path()});
    tavola->Show();
}

int answered()
{
    return int(tavola->state().rightAnswers.value()) + tavola->state().wrongAnswers.value();
}

// The code the box should take for a typed code-page byte.
int expectedCode(int typed)
{
    if (typed == 'a' || typed == 'A' || typed == 'b')
        return 'B';
    if (typed >= 'c' && typed <= 'z')
        return typed - 32;
    switch (typed) {
    case 0x9A: return 0x8A; // š Š
    case 0x9C: return 0x8C; // œ Œ
    case 0x9E: return 0x8E; // ž Ž
    case 0xFF: return 0x9F; // ÿ Ÿ
    default: break;
    }
    if (typed >= 0xE0 && typed <= 0xFE && typed != 0xF7) // à..þ, not ÷
        return typed - 0x20;
    return typed; // ß, µ and ƒ have no capital in the code page
}

[[noreturn]] void fault(const char *what, int typed, int got)
{
    std::fprintf(stderr, "key 0x%02x: %s (got %d, expected %d)\n", typed, what, got,
                 typed == 13 ? 0 : expectedCode(typed));
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    // Qt keeps argc and argv; libFuzzer's own options are none of its business.
    static int argc = 1;
    static char name[] = "fuzz_answer_mapping";
    static char *argv[] = {name, nullptr};
    new QApplication(argc, argv);
    directory = new QTemporaryDir(QStringLiteral("/tmp/valtrino-fuzz-XXXXXX"));
    if (!directory->isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        std::abort();
    }
    services = new ScriptedServices;
    newGame();
    // Only the directory goes at exit: Qt's statics may already be gone
    // by then, so the window stays (reachable, hence no leak report).
    std::atexit([] { delete directory; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (answered() + int(size) > counterCeiling)
        newGame();
    auto *box = tavola->findChild<QLineEdit *>(QStringLiteral("txtAnswer"));
    if (!box)
        fault("no answer box", 0, 0);
    box->clear();

    for (std::size_t i = 0; i < size; ++i) {
        const int typed = data[i];
        const int before = answered();
        runtime::Int16 key = typed;
        tavola->txtAnswer_KeyPress(key);
        const int got = key.value();

        if (got < 0 || got > 255)
            fault("code outside the code page", typed, got);
        if (got >= 'a' && got <= 'z')
            fault("lower-case letter left", typed, got);
        if (typed == 13) {
            if (got != 0)
                fault("Enter not swallowed", typed, got);
            if (answered() != before + 1)
                fault("Enter did not count one answer", typed, answered() - before);
            continue;
        }
        if (got != expectedCode(typed))
            fault("wrong mapping", typed, got);
        if (answered() != before)
            fault("a key other than Enter counted an answer", typed, answered() - before);
        // Printable keys reach the box as the game's would, so that Enter
        // sometimes meets the right answer. Latin-1 equals the code page
        // outside 0x80-0x9F.
        if ((got >= 32 && got < 127) || got >= 0xA0)
            box->insert(QString(QChar(char16_t(got))));
    }
    return 0;
}
