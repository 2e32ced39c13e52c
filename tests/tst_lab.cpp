#include "LabClaim.h"
#include "RecordFiles.h"
#include "RecordRequest.h"
#include "SharedRecord.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <atomic>
#include <thread>

namespace {

const QString recordDir = QStringLiteral(TEST_LAB_RECORDS);
const QString outbox = recordDir + QStringLiteral("/lab/outbox");
const QString configuration = recordDir + QStringLiteral(".conf");

void put(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Stands in for valtrino-labd: answers every claim of the outbox with
// verdict, or with nothing when it is empty, and keeps what it saw.
class FakeService
{
public:
    explicit FakeService(const QByteArray &verdict) : m_verdict(verdict)
    {
        m_thread = std::thread([this] {
            while (!m_stop) {
                for (const QString &id : QDir(outbox).entryList(QDir::Files)) {
                    QFile file(outbox + u'/' + id);
                    if (!file.open(QIODevice::ReadOnly))
                        continue;
                    m_claims.append(file.readAll());
                    if (!m_verdict.isEmpty()) {
                        QFile::remove(file.fileName());
                        put(recordDir + QStringLiteral("/lab/verdicts/") + id, m_verdict + '\n');
                    }
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                if (m_verdict.isEmpty() && !m_claims.isEmpty())
                    return;
            }
        });
    }
    ~FakeService()
    {
        m_stop = true;
        m_thread.join();
    }
    QByteArrayList claims()
    {
        m_stop = true;
        m_thread.join();
        m_thread = std::thread([] {});
        return m_claims;
    }

private:
    QByteArray m_verdict;
    QByteArrayList m_claims;
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

} // namespace

class LabTest : public QObject
{
    Q_OBJECT
private slots:
    void claimFileFormat_data();
    void claimFileFormat();
    void claimIdsAreFreshVersion4();
    void recordProgramInLabMode_data();
    void recordProgramInLabMode();
};

void LabTest::claimFileFormat_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<bool>("valid");
    QTest::addColumn<QByteArray>("name");
    const QByteArray id = "0f8fad5b-d9cb-469f-a165-70867728950e";
    QTest::newRow("plain") << id + " pupil1 12 Anna" << true << QByteArray("Anna");
    QTest::newRow("name with blanks, line ends, code page") << id + " pupil1 0  Anna\r\nNiccol\xf2 " << true
                                                            << QByteArray(" Anna\r\nNiccol\xf2 ");
    QTest::newRow("empty name") << id + " #1001 32767 " << true << QByteArray();
    QTest::newRow("no name field") << id + " pupil1 12" << false << QByteArray();
    QTest::newRow("score too high") << id + " pupil1 32768 Anna" << false << QByteArray();
    QTest::newRow("score with leading zero") << id + " pupil1 012 Anna" << false << QByteArray();
    QTest::newRow("no account") << id + "  12 Anna" << false << QByteArray();
    QTest::newRow("capital id") << id.toUpper() + " pupil1 12 Anna" << false << QByteArray();
    QTest::newRow("id as a path") << QByteArray("../../../../etc/passwd-0000-0000-0000 pupil1 12 Anna") << false << QByteArray();
}

void LabTest::claimFileFormat()
{
    QFETCH(QByteArray, text);
    QFETCH(bool, valid);
    QFETCH(QByteArray, name);
    const std::optional<core::lab::Claim> claim = core::lab::parseClaim(text.toStdString());
    QCOMPARE(claim.has_value(), valid);
    if (valid) {
        QCOMPARE(QByteArray::fromStdString(claim->name), name);
        QCOMPARE(QByteArray::fromStdString(core::lab::claimText(*claim)), text);
    }
}

void LabTest::claimIdsAreFreshVersion4()
{
    const std::string first = core::lab::newClaimId();
    const std::string second = core::lab::newClaimId();
    QVERIFY(core::lab::isClaimId(first));
    QCOMPARE(first[14], '4');
    QVERIFY(std::string_view("89ab").find(first[19]) != std::string_view::npos);
    QVERIFY(first != second);
}

void LabTest::recordProgramInLabMode_data()
{
    QTest::addColumn<bool>("lab");
    QTest::addColumn<QByteArray>("seen");
    QTest::addColumn<QByteArray>("verdict");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("claimed");
    QTest::addColumn<QByteArray>("read");

    QTest::newRow("lab stores it") << true << QByteArray("5 Bea") << QByteArray("stored") << int(core::done) << true
                                   << QByteArray("7 Carlo");
    QTest::newRow("another PC was higher") << true << QByteArray("5 Bea") << QByteArray("not-higher")
                                           << int(core::notHigher) << true << QByteArray("7 Carlo");
    QTest::newRow("server silent: pending, kept here") << true << QByteArray() << QByteArray() << int(core::pending)
                                                       << true << QByteArray("7 Carlo");
    QTest::newRow("not above the lab's record") << true << QByteArray("7 Bea") << QByteArray("stored")
                                                << int(core::notHigher) << false << QByteArray("7 Bea");
    QTest::newRow("lab's record read when higher") << true << QByteArray("9 Bea") << QByteArray("stored")
                                                   << int(core::notHigher) << false << QByteArray("9 Bea");
    QTest::newRow("without the configuration: as before")
        << false << QByteArray("9 Bea") << QByteArray() << int(core::done) << false << QByteArray("7 Carlo");
}

// The real record program, built for this folder, against a stand-in for
// the service: what it answers, what it leaves in the outbox, what a read
// then shows.
void LabTest::recordProgramInLabMode()
{
    QFETCH(bool, lab);
    QFETCH(QByteArray, seen);
    QFETCH(QByteArray, verdict);
    QFETCH(int, status);
    QFETCH(bool, claimed);
    QFETCH(QByteArray, read);

    QDir(recordDir).removeRecursively();
    QVERIFY(QDir().mkpath(outbox) && QDir().mkpath(recordDir + QStringLiteral("/lab/verdicts")));
    QFile::remove(configuration);
    if (lab)
        put(configuration, "host = lab\n");
    if (!seen.isEmpty())
        put(recordDir + QStringLiteral("/lab/seen"), seen);

    FakeService service(verdict);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(records::runHelper(QStringLiteral(TEST_HELPER), "record\n7\nCarlo"), status);
    const qint64 took = timer.elapsed();
    // The game end waits a bounded time for the lab's server, and only then.
    QVERIFY2(took < (status == core::pending ? 4000 : 1000), QByteArray::number(took));
    if (status == core::pending)
        QVERIFY(took >= 3400);

    const QByteArrayList claims = service.claims();
    QCOMPARE(claims.size(), claimed ? 1 : 0);
    if (claimed)
        QVERIFY(claims.first().endsWith(" 7 Carlo") && core::lab::parseClaim(claims.first().toStdString()));
    // A pending claim stays for the service; an answered one is gone.
    QCOMPARE(QDir(outbox).entryList(QDir::Files).size(), status == core::pending ? 1 : 0);
    QVERIFY(QDir(recordDir + QStringLiteral("/lab/verdicts")).isEmpty());

    QByteArray answer;
    QCOMPARE(records::runHelper(QStringLiteral(TEST_HELPER), "read\n", &answer), int(core::done));
    const std::optional<core::Pair> pair = core::parseAnswer(answer.toStdString());
    QVERIFY(pair);
    const QByteArray shown = QByteArray::fromStdString(pair->score + pair->name);
    QCOMPARE(shown, read.replace(' ', "\r\n") + "\r\n");
}

QTEST_GUILESS_MAIN(LabTest)
#include "tst_lab.moc"
