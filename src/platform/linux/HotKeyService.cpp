#include "platform/HotKeyService.h"

#include "platform/linux/X11HotKeyService.h"

HotKeyService *HotKeyService::createDefault(QObject *parent)
{
    return X11HotKeyService::create(parent);
}
