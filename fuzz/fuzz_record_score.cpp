// A record file of any content, read as the game reads punt.txt and taken
// as a score. Only I/O may fail; content never may.
#include "Characters.h"
#include "RecordFiles.h"
#include "RuntimeError.h"
#include "Values.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Files up to this size are read whole; a bigger one may be cut here.
constexpr qsizetype wholeReadLimit = 64 * 1024;

// Inputs starting with this marker stand for a file past the limit: the
// rest is repeated beyond it, so that the bound is fuzzed too.
constexpr char bigMarker[] = "\xff\xfe""BIG";

QTemporaryDir *directory = nullptr;
QString recordPath;

[[noreturn]] void fault(const char *what, qsizetype size)
{
    std::fprintf(stderr, "record file of %lld bytes: %s\n", static_cast<long long>(size), what);
    std::abort();
}

void writeFile(const QByteArray &bytes)
{
    const QByteArray native = recordPath.toLocal8Bit();
    // A fresh file rather than a truncated one: ext4 flushes a truncated
    // file's new data on close, which would make each run wait for the disk.
    ::unlink(native.constData());
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
        std::perror("record file");
        std::abort();
    }
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, size_t(bytes.size() - done));
        if (n <= 0) {
            std::perror("record file");
            std::abort();
        }
        done += n;
    }
    ::close(fd);
}

QByteArray fileBytes(const std::uint8_t *data, std::size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray marker = QByteArray::fromRawData(bigMarker, sizeof bigMarker - 1);
    if (!input.startsWith(marker))
        return input;
    const QByteArray unit = input.mid(marker.size());
    const QByteArray filler = unit.isEmpty() ? QByteArray("7") : unit;
    QByteArray big;
    while (big.size() <= wholeReadLimit)
        big += filler;
    return big;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    directory = new QTemporaryDir(QStringLiteral("/tmp/valtrino-fuzz-XXXXXX"));
    if (!directory->isValid()) {
        std::fprintf(stderr, "no temporary directory\n");
        std::abort();
    }
    recordPath = records::scorePath(directory->path() + u'/');
    // Removed at a normal end; a crash leaves it for inspection.
    std::atexit([] { delete directory; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes = fileBytes(data, size);
    writeFile(bytes);
    struct stat info;
    if (::stat(recordPath.toLocal8Bit().constData(), &info) != 0 || info.st_size != bytes.size())
        fault("written size differs", bytes.size());

    QString text;
    try {
        text = records::readWhole(recordPath);
    } catch (const runtime::RuntimeError &error) {
        std::fprintf(stderr, "runtime error %d\n", error.code());
        fault("readWhole failed on a readable regular file", bytes.size());
    }

    if (text.size() > bytes.size())
        fault("more characters than bytes", bytes.size());
    if (bytes.size() <= wholeReadLimit && text.size() != bytes.size())
        fault("not read whole", bytes.size());
    // Every byte of the code page is one character and back.
    if (runtime::toCodePage(text) != bytes.left(text.size()))
        fault("bytes do not survive the code page round trip", bytes.size());

    if (std::isnan(runtime::LeadingValue(text)))
        fault("score is NaN", bytes.size());
    return 0;
}
