// The backend's status answer: any body with status 200 is read without crashing.
#include "backend/UpdateStatus.h"

#include <QByteArray>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    velmora::platform::HttpResponse response;
    response.received = true;
    response.status = 200;
    response.body = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    (void)velmora::backend::classifyUpdateStatus(response);
    return 0;
}
