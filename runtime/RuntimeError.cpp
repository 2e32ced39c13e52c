#include "RuntimeError.h"

namespace runtime {

RuntimeError::RuntimeError(int code) : m_code(code) {}

QString RuntimeError::description() const
{
    return errorDescription(m_code);
}

void raise(int code)
{
    throw RuntimeError(code);
}

QString errorDescription(int code)
{
    switch (code) {
    case InvalidCall:
        return QStringLiteral("Chiamata di routine o argomento non validi");
    case Overflow:
        return QStringLiteral("Valore troppo grande: il numero esce dall'intervallo consentito");
    case SubscriptOutOfRange:
        return QStringLiteral("Indice fuori dall'intervallo della tabella");
    case TypeMismatch:
        return QStringLiteral("Tipo non corrispondente: il testo non è un numero");
    case FileNotFound:
        return QStringLiteral("File non trovato");
    case DiskFull:
        return QStringLiteral("Disco pieno");
    case PermissionDenied:
        return QStringLiteral("Permesso negato");
    case PathFileAccessError:
        return QStringLiteral("Errore di accesso al percorso o al file");
    case PathNotFound:
        return QStringLiteral("Percorso non trovato");
    }
    return QStringLiteral("Errore definito dall'applicazione o dall'oggetto");
}

QString errorReport(int code)
{
    return QStringLiteral("Errore di run-time '%1':\n\n%2").arg(code).arg(errorDescription(code));
}

} // namespace runtime
