// One snap-in instance made through the module's exports and started as a
// console starts it, on the recording console; destroyed as the console
// closes it.
#pragma once

#include <gtest/gtest.h>

#include "snapin/guids.h"
#include "snapin/module.h"
#include "tests/support/fake_console.h"

class CSnapinSession {
public:
    CSnapinSession()
    {
        com_ptr<IClassFactory> factory;
        EXPECT_EQ(DllGetClassObject(CLSID_Ferrodex, IID_IClassFactory, factory.put_void()), S_OK);
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IComponentData, data.put_void()), S_OK);
        EXPECT_EQ(data->Initialize(static_cast<IConsole*>(console.get())), S_OK);
        EXPECT_EQ(data->CreateComponent(component.put()), S_OK);
        EXPECT_EQ(component->Initialize(console.get()), S_OK);
        menu = data.query<IExtendContextMenu>();
        persist = data.query<IPersistStream>();
    }
    ~CSnapinSession()
    {
        component->Destroy(0);
        data->Destroy();
    }
    CSnapinSession(const CSnapinSession&) = delete;
    CSnapinSession& operator=(const CSnapinSession&) = delete;

    // The data object of the node behind a cookie, as the console asks for it.
    com_ptr<IDataObject> Query(MMC_COOKIE cookie)
    {
        com_ptr<IDataObject> object;
        EXPECT_EQ(data->QueryDataObject(cookie, CCT_SCOPE, object.put()), S_OK);
        return object;
    }

    com_ptr<CFakeConsole> console = CFakeConsole::Create();
    com_ptr<IComponentData> data;
    com_ptr<IComponent> component;
    com_ptr<IExtendContextMenu> menu;
    com_ptr<IPersistStream> persist;
};
