// The health answer comes from whatever listens on the backend port.

#include "FuzzSupport.h"

#include "backend/Health.h"

using namespace velmora;

namespace {
constexpr qint64 ownProcessId = 4242;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    platform::HttpResponse response;
    response.received = true;
    response.status = 200;
    response.body = QByteArray(reinterpret_cast<const char *>(data), qsizetype(size));

    const backend::Health health = backend::classifyHealth(response, ownProcessId);
    // Only the process id tells this process's backend from another instance's.
    const backend::Health fromElsewhere = backend::classifyHealth(response, ownProcessId + 1);
    if (health == backend::Health::Ours)
        fuzz::check(fromElsewhere == backend::Health::OtherInstance, "another process id makes ours another instance's");
    else if (fromElsewhere != backend::Health::Ours)
        fuzz::check(fromElsewhere == health, "the process id changes nothing but ours and another instance's");

    response.status = 500;
    fuzz::check(backend::classifyHealth(response, ownProcessId) == backend::Health::Foreign,
                "an error status is never a Velmora backend");
    return 0;
}
