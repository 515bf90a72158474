// ESC/POS bytes drawn by the receipt preview; the first byte picks the paper (58 mm, 80 mm,
// or a strip so narrow that every line wraps and every image overflows).
#include "printing/ReceiptPreview.h"

#include <QGuiApplication>

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
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
