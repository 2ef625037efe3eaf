#include "BaseTypes.h"
#include "Dialogs/ui/VirtualKeyboard.h"

namespace Brelt::MW::Base {

void ReleaseVirtualKeyboard(::VirtualKeyboard** holder)
{
    if (holder == nullptr || *holder == nullptr)
        return;
    ::VirtualKeyboard* keyboard = *holder;
    *holder = nullptr;
    delete keyboard;
}

}  // namespace Brelt::MW::Base
