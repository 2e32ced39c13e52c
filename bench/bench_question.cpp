// The cost of posing one question at the window's own size and maximised
// on a 3840 x 2160 screen: the handler alone, and the handler with the
// repaint that paints the gradient. Run on the offscreen platform with a
// screen that big (see run.sh).

#include "ScriptedServices.h"
#include "Tavola.h"

#include <QScreen>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

class BenchQuestion : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_records;
    ScriptedServices m_services;
    std::unique_ptr<Tavola> m_tavola;
    QByteArray m_startedFor;

    void start(bool maximised)
    {
        m_services.texts << QStringLiteral("Anna") << QStringLiteral("100");
        m_tavola = std::make_unique<Tavola>(m_services, records::Location{m_records.path(), m_records.path()});
        m_tavola->Show();
        if (maximised)
            m_tavola->showMaximized();
        QVERIFY(QTest::qWaitForWindowExposed(m_tavola.get()));
        QCoreApplication::processEvents();
    }

    // QtTest runs a benchmark's body again for each measuring pass; the
    // window is made once per row and poses its first question there, so
    // what is measured is a question like every later one.
    void startOnce(bool maximised)
    {
        const QByteArray row = QByteArray(QTest::currentTestFunction()) + QTest::currentDataTag();
        if (row == m_startedFor)
            return;
        m_tavola.reset();
        start(maximised);
        checkSize(maximised);
        m_tavola->cmdNext_Click();
        m_startedFor = row;
    }

    void sizes()
    {
        QTest::addColumn<bool>("maximised");
        QTest::newRow("632x434") << false;
        QTest::newRow("3840x2160") << true;
    }

    void checkSize(bool maximised)
    {
        if (maximised)
            QCOMPARE(m_tavola->frameGeometry().size(), QSize(3840, 2160));
        else
            QCOMPARE(m_tavola->centralWidget()->size(), QSize(632, 434));
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_records.isValid());
        QVERIFY2(QGuiApplication::primaryScreen()->size() == QSize(3840, 2160),
                 "needs an offscreen screen of 3840 x 2160");
    }

    void cleanupTestCase() { m_tavola.reset(); }

    // The handler alone: what the question costs before the event loop runs.
    void question_data() { sizes(); }
    void question()
    {
        QFETCH(bool, maximised);
        startOnce(maximised);
        if (QTest::currentTestFailed())
            return;
        QBENCHMARK {
            m_tavola->cmdNext_Click();
        }
    }

    // The handler and the repaint that shows the new question.
    void questionShown_data() { sizes(); }
    void questionShown()
    {
        QFETCH(bool, maximised);
        startOnce(maximised);
        if (QTest::currentTestFailed())
            return;
        QBENCHMARK {
            m_tavola->cmdNext_Click();
            m_tavola->repaint();
        }
    }
};

QTEST_MAIN(BenchQuestion)
#include "bench_question.moc"
