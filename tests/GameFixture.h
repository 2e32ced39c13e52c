#pragma once

#include "Controls.h"
#include "ScriptedServices.h"
#include "Tavola.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <functional>
#include <memory>
#include <optional>
#include <sys/resource.h>

// The number of the runtime error that the operation raised; -1 when it
// ended the program instead, 0 when it did neither.
inline int runtimeErrorOf(const std::function<void()> &operation)
{
    try {
        operation();
    } catch (const runtime::RuntimeError &error) {
        return error.code();
    } catch (const ProgramEnded &) {
        return -1;
    }
    return 0;
}

// While it lives, files that this process and its children write may grow
// to bytes at most, as on a disk that is full there: writing further fails
// with EFBIG instead of raising SIGXFSZ.
class DiskFullAt
{
public:
    explicit DiskFullAt(rlim_t bytes)
    {
        m_handler = std::signal(SIGXFSZ, SIG_IGN);
        if (::getrlimit(RLIMIT_FSIZE, &m_saved) != 0)
            return;
        rlimit tiny = m_saved;
        tiny.rlim_cur = bytes;
        m_set = ::setrlimit(RLIMIT_FSIZE, &tiny) == 0;
    }
    ~DiskFullAt()
    {
        if (m_set)
            ::setrlimit(RLIMIT_FSIZE, &m_saved);
        std::signal(SIGXFSZ, m_handler);
    }
    DiskFullAt(const DiskFullAt &) = delete;
    DiskFullAt &operator=(const DiskFullAt &) = delete;

    bool isSet() const { return m_set; }

private:
    rlimit m_saved{};
    void (*m_handler)(int) = nullptr;
    bool m_set = false;
};

// A window with scripted dialogues and record files in a fresh directory.
struct GameFixture
{
    ScriptedServices services;
    QTemporaryDir directory;
    std::unique_ptr<Tavola> tavola;
    // Where the records go: the fresh directory unless a test says otherwise.
    std::optional<records::Location> location;

    QString recordPath(const char *name) const { return directory.filePath(QString::fromLatin1(name)); }

    void putRecord(const char *name, const QByteArray &bytes) const
    {
        QFile file(recordPath(name));
        if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            file.write(bytes);
    }

    QByteArray record(const char *name) const
    {
        QFile file(recordPath(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
    }

    // Starts a game with the given name and limit answers; answers already
    // scripted follow them.
    Tavola &start(const QString &name = QStringLiteral("Anna"), const QString &limit = QStringLiteral("100"))
    {
        services.texts.prepend(limit);
        services.texts.prepend(name);
        tavola = std::make_unique<Tavola>(services,
                                          location.value_or(records::Location{directory.path(), directory.path()}));
        tavola->Show();
        return *tavola;
    }

    template<typename T = QWidget>
    T *control(const char *name) const
    {
        return tavola->findChild<T *>(QString::fromLatin1(name));
    }

    QString caption(const char *name) const { return control<CaptionLabel>(name)->caption(); }
    QString answerText() const { return control<QLineEdit>("txtAnswer")->text(); }

    // Types the text into the answer box key by key, then Enter.
    void answer(const QString &text)
    {
        control<QLineEdit>("txtAnswer")->setText(QString());
        for (const QChar c : text) {
            runtime::Int16 key = runtime::Int16(c.unicode());
            tavola->txtAnswer_KeyPress(key);
            if (key != 0)
                control<QLineEdit>("txtAnswer")->insert(QString(QChar(char16_t(key.value()))));
        }
        runtime::Int16 enter = 13;
        tavola->txtAnswer_KeyPress(enter);
    }

    void answerRight() { answer(tavola->state().expectedAnswer); }

    // Answers count questions right, each followed by the next question.
    void scoreRight(int count)
    {
        for (int i = 0; i < count; ++i) {
            answerRight();
            tavola->cmdNext_Click();
        }
    }
};
