// Draws arbitrary ESC/POS byte streams as the receipt preview does. The first
// byte picks the paper (58 mm, 80 mm, or a narrow strip that makes every
// line wrap and every image overflow); the rest is what a printer would get.
#include "printing/ReceiptPreview.h"

#include <QGuiApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Never destroyed: libFuzzer leaves through exit(), after Qt's own globals are gone.
    new QGuiApplication(*argc, *argv);
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    static const int widths[] = {576, 384, 40};
    ReceiptPreview preview(widths[data[0] % 3], 4000);
    preview.draw(QByteArray::fromRawData(reinterpret_cast<const char*>(data + 1), int(size - 1)));
    return 0;
}
