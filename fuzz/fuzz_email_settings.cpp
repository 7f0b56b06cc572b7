// The record of data/email.dat as any bytes: the settings read from it, written over it, read back the same, and
// writing them again changes no byte.
#include "FuzzInput.h"

#include "mail/EmailSettings.h"

using namespace sondrel::mail;

namespace {

bool sameSettings(const EmailSettings& a, const EmailSettings& b)
{
    return a.SmtpHost == b.SmtpHost && a.SenderName == b.SenderName && a.SenderAddress == b.SenderAddress &&
           a.RecipientName == b.RecipientName && a.RecipientAddress == b.RecipientAddress && a.Subject == b.Subject &&
           a.MessageBody == b.MessageBody && a.AttachLog == b.AttachLog && a.DisconnectDelay == b.DisconnectDelay;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sondrel::fuzz::FuzzInput input(data, size);
    // The file is read as one whole record, a short file padded with zero bytes.
    QByteArray record = input.take(kEmailRecordLength).toByteArray();
    record.append(QByteArray(kEmailRecordLength - record.size(), '\0'));

    const EmailSettings settings = decodeEmailSettings(record);
    encodeEmailSettings(record, settings);
    SONDREL_FUZZ_CHECK(record.size() == kEmailRecordLength);
    const EmailSettings again = decodeEmailSettings(record);
    SONDREL_FUZZ_CHECK(sameSettings(again, settings));
    QByteArray rewritten = record;
    encodeEmailSettings(rewritten, again);
    SONDREL_FUZZ_CHECK(rewritten == record);
    return 0;
}
