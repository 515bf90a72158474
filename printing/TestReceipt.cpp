#include "printing/TestReceipt.h"

#include <QFile>
#include <QJsonObject>

namespace {

QJsonObject op(const char* name, const QJsonValue& data)
{
    return QJsonObject{{QStringLiteral("op"), QLatin1String(name)}, {QStringLiteral("data"), data}};
}

QJsonObject size(bool doubled)
{
    return op("double", QJsonObject{{QStringLiteral("width"), doubled}, {QStringLiteral("height"), doubled}});
}

} // namespace

QJsonArray TestReceipt::job(const QString& printerName, const QDateTime& when)
{
    QJsonArray job;
    job.append(op("alignment", 1));
    QFile logo(QStringLiteral(":/imgs/logo_quorva_cabecalho.png"));
    if (logo.open(QIODevice::ReadOnly)) {
        job.append(op("image", QString::fromLatin1(logo.readAll().toBase64())));
        job.append(op("alignment", 1)); // an image resets the printer
    }
    job.append(op("text", QStringLiteral("\n")));
    job.append(size(true));
    job.append(op("text", QStringLiteral("Quorva Link\n")));
    job.append(size(false));
    job.append(op("text", tr("Versão %1").arg(QStringLiteral(QLK_VERSION)) + QLatin1Char('\n')));
    job.append(op("style", QJsonObject{{QStringLiteral("emphasized"), true}}));
    job.append(op("text", tr("Página de teste") + QStringLiteral("\n\n")));
    job.append(op("style", QJsonObject{}));

    job.append(op("alignment", 0));
    job.append(op("text", tr("Impressora: %1").arg(printerName) + QLatin1Char('\n')));
    job.append(
        op("text", tr("Data: %1").arg(when.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))) + QStringLiteral("\n\n")));
    job.append(op("text", QStringLiteral("áàâãéêíóôõúç ÁÀÂÃÉÊÍÓÔÕÚÇ ñÑ ¿¡ 12,50 €\n\n")));

    job.append(op("text", tr("Esquerda") + QLatin1Char('\n')));
    job.append(op("alignment", 1));
    job.append(op("text", tr("Centro") + QLatin1Char('\n')));
    job.append(op("alignment", 2));
    job.append(op("text", tr("Direita") + QLatin1Char('\n')));
    job.append(op("alignment", 0));
    job.append(op("text", QStringLiteral("\n")));

    job.append(size(true));
    job.append(op("text", tr("Tamanho duplo") + QLatin1Char('\n')));
    job.append(size(false));
    job.append(op("condensed", true));
    job.append(op("text", tr("Letra condensada, 64 caracteres por linha:") + QLatin1Char('\n')));
    job.append(op("text", QStringLiteral("1234567890").repeated(7).left(64) + QLatin1Char('\n')));
    job.append(op("condensed", false));

    job.append(op("alignment", 1));
    job.append(
        op("text", QLatin1Char('\n') + tr("Se consegue ler isto, a impressora funciona.") + QStringLiteral("\n\n\n")));
    job.append(op("cut", QStringLiteral("feed")));
    return job;
}
