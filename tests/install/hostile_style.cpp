// A style plugin that a player could drop into QT_PLUGIN_PATH: once the game
// loads it, it tries to write into the record directory. It then leaves a
// note beside itself, so that the test knows it ran and what it met.
#include <QFile>
#include <QStyleFactory>
#include <QStylePlugin>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

class HostileStyle : public QStylePlugin
{
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "hostile_style.json")
public:
    QStyle *create(const QString &) override
    {
        const QByteArray target = qgetenv("HOSTILE_TARGET");
        const int fd = ::open(target.constData(), O_WRONLY | O_CREAT | O_EXCL, 0666);
        const QByteArray outcome = fd >= 0 ? QByteArray("created") : QByteArray(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        QFile note(QString::fromLocal8Bit(qgetenv("HOSTILE_NOTE")));
        if (note.open(QIODevice::WriteOnly))
            note.write("loaded: " + outcome + '\n');
        return QStyleFactory::create(QStringLiteral("Fusion"));
    }
};

#include "hostile_style.moc"
