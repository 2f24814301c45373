// The product's edits to the host's menus, one row per value "0000" onward of
// Menus\Customization. Rows refer to one another (row 0014 greys out the item
// that row 0000 adds), so their order is part of the data.
#pragma once

namespace plg {

inline constexpr const char* kMenuCustomizationTable[] = {
    "ADD,&Tools/Initialize Control Scheme,BEFORE,Generate Procedure Co&de...,InitializeControls, "
    "Re-initializes all control elements",
    "REMOVE,&File/&New\tCtrl+N",
    "REMOVE,&File/Open &Library...",
    "REMOVE,&File/&Create Library...",
    "REMOVE,&File/&Import Types...",
    "DISABLE,&File/Expo&rt...",
    "REMOVE,&File/Import &Flowsheet...",
    "REMOVE,&Edit",
    "REMOVE,&View/Model &Libraries\tAlt+F10",
    "REMOVE,&Tools/Custom Mode&ling",
    "REMOVE,&Tools/Confi&gure Properties...\tAlt+F6",
    "REMOVE,&Tools/Generate Procedure Co&de...",
    "REMOVE,&Tools/New/New S&cript...",
    "REMOVE,&Tools/New/New Tas&k...",
    "DISABLE,&Tools/Initialize Control Scheme",
    "REMOVE,&Tools/Export Model or Structure to DLL...",
    "REMOVE,&Tools/Export Model or Structure to MSI...",
    "REMOVE,&Tools/Create Model Initialization Script...",
    "REMOVE,&Tools/Manage HVX Models...",
    "ADD,F&lowsheet/Global Data Variables...,AFTER,Proper&ties...\tAlt+Enter,InitializeControls, "
    "Re-initializes all control elements",
    "REMOVE,F&lowsheet/Reconnect S&ources",
    "REMOVE,F&lowsheet/Reconnect &Destinations",
    "REMOVE,F&lowsheet/&Exchange Icons\tCtrl+K",
    "REMOVE,F&lowsheet/&Align Blocks\tCtrl+B",
    "REMOVE,F&lowsheet/&Reroute Streams\tCtrl+J",
    "REMOVE,F&lowsheet/&Hide Label\tCtrl+H",
    "REMOVE,F&lowsheet/&Unplace Blocks\tCtrl+U",
    "REMOVE,F&lowsheet/Create Model from Flowsheet",
    "REMOVE,F&lowsheet/&Lock",
    "ADD,F&lowsheet/Global Data Variables...,AFTER,Proper&ties...\tAlt+Enter,InitializeControls, "
    "Re-initializes all control elements",
    "ADD,F&lowsheet/Global Data Variables...,AFTER,Proper&ties...\tAlt+Enter,InitializeControls, "
    "Re-initializes all control elements",
    "ADD,F&lowsheet/&Generate DXF...,AFTER,Fin&d Object...",
    "REMOVE,&Run/Re&set All",
};

}  // namespace plg
