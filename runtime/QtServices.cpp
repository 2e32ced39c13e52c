#include "QtServices.h"

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>

namespace runtime {

int QtServices::ShowMessage(const QString &text, int code, const QString &title)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(title.isEmpty() ? applicationTitle : title);
    box.setText(text);
    box.setTextFormat(Qt::PlainText);
    if (code == YesNoQuestionDefaultNo) {
        box.setIcon(QMessageBox::Question);
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("&Sì"));
        box.button(QMessageBox::No)->setText(QStringLiteral("&No"));
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? Yes : No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.button(QMessageBox::Ok)->setText(QStringLiteral("OK"));
    box.exec();
    return Ok;
}

QString QtServices::AskText(const QString &prompt)
{
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(applicationTitle);
    dialog.setLabelText(prompt);
    dialog.setOkButtonText(QStringLiteral("OK"));
    dialog.setCancelButtonText(QStringLiteral("Annulla"));
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return dialog.textValue();
}

void QtServices::Beep()
{
    QApplication::beep();
}

void QtServices::EndProgram()
{
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}

void QtServices::SeedRandom()
{
    const auto ticks = std::chrono::system_clock::now().time_since_epoch().count();
    m_generator.seed(static_cast<std::mt19937::result_type>(ticks ^ (ticks >> 32)));
}

float QtServices::NextRandom(int n)
{
    if (n != 0) {
        // 24 random bits: every value is exact in a float and below 1.
        m_last = float(m_generator() >> 8) / float(1 << 24);
    }
    return m_last;
}

} // namespace runtime
