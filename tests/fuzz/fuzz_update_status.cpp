// The status answer comes from whatever listens on the backend port.

#include "FuzzSupport.h"

#include "backend/UpdateStatus.h"

using namespace velmora;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    platform::HttpResponse response;
    response.received = true;
    response.status = 200;
    response.body = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));
    const std::optional<bool> busy = backend::classifyUpdateStatus(response);

    // The status decides first: no other answer is ever usable, whatever the body says.
    response.status = 503;
    fuzz::check(!backend::classifyUpdateStatus(response).has_value(), "an error status is undetermined");
    response.status = 200;
    response.bodyTooLarge = true;
    fuzz::check(!backend::classifyUpdateStatus(response).has_value(), "a body beyond the limit is undetermined");
    Q_UNUSED(busy);
    return 0;
}
