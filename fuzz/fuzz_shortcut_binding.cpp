// Feeds arbitrary bytes, as the data stored under a shortcut key of the settings file, to the binding
// decoder. A decode either fails with a reason or gives a binding that labels and validates for both
// roles and comes back unchanged through its own JSON.

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include <QByteArray>
#include <QString>

#include "settings/DictationShortcutRole.h"
#include "settings/ShortcutBinding.h"

using namespace tessvale;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char*>(data), qsizetype(size));
    QString error;
    const std::optional<ShortcutBinding> binding = ShortcutBinding::fromJson(bytes, &error);
    if (!binding) {
        if (error.isEmpty())
            std::abort();
        return 0;
    }
    (void)binding->displayLabel();
    for (const DictationShortcutRole role :
        { DictationShortcutRole::pushToTalk, DictationShortcutRole::handsFreeToggle })
        (void)binding->validationError(role);
    const std::optional<ShortcutBinding> again = ShortcutBinding::fromJson(binding->toJson());
    if (!again || *again != *binding)
        std::abort();
    return 0;
}
