// A site slot of data/init.dat as any bytes: the settings read from it write back to a record that reads as the
// same settings, and writing those again gives the same bytes.
#include "FuzzInput.h"

#include "store/SiteSettings.h"

using namespace sondrel::store;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    const SiteSettings settings = decodeSiteSettings(input.rest());
    const QByteArray record = encodeSiteSettings(settings);
    SONDREL_FUZZ_CHECK(record.size() == kSiteSettingsLength);
    const SiteSettings again = decodeSiteSettings(record);
    SONDREL_FUZZ_CHECK(again == settings);
    SONDREL_FUZZ_CHECK(encodeSiteSettings(again) == record);
    return 0;
}
