// The identifiers of the console interfaces, which the system's header
// declares and no system library defines: defined once for the module.
#include "platform/console.h"

#define FDX_DEFINE_SYSTEM_IID(Interface) extern "C" const IID IID_##Interface = InterfaceId<Interface>::value

FDX_DEFINE_SYSTEM_IID(IHeaderCtrl);
FDX_DEFINE_SYSTEM_IID(IResultData);
FDX_DEFINE_SYSTEM_IID(IImageList);
FDX_DEFINE_SYSTEM_IID(IConsoleVerb);
FDX_DEFINE_SYSTEM_IID(IContextMenuCallback);
FDX_DEFINE_SYSTEM_IID(IConsoleNameSpace);
FDX_DEFINE_SYSTEM_IID(IConsoleNameSpace2);
FDX_DEFINE_SYSTEM_IID(IConsole);
FDX_DEFINE_SYSTEM_IID(IComponentData);
FDX_DEFINE_SYSTEM_IID(IComponent);
FDX_DEFINE_SYSTEM_IID(IExtendContextMenu);
FDX_DEFINE_SYSTEM_IID(IExtendTaskPad);
FDX_DEFINE_SYSTEM_IID(ISnapinAbout);
