// The installer's output turned into advice for the user.
#include "fuzzsupport.h"
#include "operations/installermessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString output = fuzzText(data, size);
    const InstallerMessage message = installerMessageFor(output);
    require(message.row >= 0 && message.row <= InstallerMessageRowCount);
    require(message.matched() == !message.text.isEmpty());
    require(message.matched() || message.resetQuestion.isEmpty());
    installationSucceeded(output);
    return 0;
}
