// What a console host and the Ferrodex snap-in agree on beyond the console
// interfaces: the snap-in's classes, the node types by which a host tells
// the snap-in's nodes apart, the menu command ids a host invokes (a host
// picks a command by its id, never by the menu text people read), the
// columns of a group's list and the word that marks a good scan there, and
// the registry settings a host may set for one process. The snap-in defines
// its nodes, menus and lists with these values, and the host uses nothing
// else.
#pragma once

#include "platform/com.h"

// The snap-in's class and its "About" class.
inline constexpr CLSID CLSID_Ferrodex = MakeGuid("D89C902C-BBEF-4E6D-BD92-E71764806F79");
inline constexpr CLSID CLSID_FerrodexAbout = MakeGuid("3C233F7B-D357-4DB7-9572-0F990C3D420D");

// Node types. A host node's expansion (or a node's below it) may scan its
// server; a "general" node holds the rows of a hardware node that has
// children; a property item is one Name/Value line.
inline constexpr GUID kRootNodeType = MakeGuid("3A92C98A-1FC8-4482-AD60-4D78790549DB");
inline constexpr GUID kGroupNodeType = MakeGuid("DA119E39-0D74-4CE9-ABE4-BFEDFCD8DE0D");
inline constexpr GUID kHostNodeType = MakeGuid("C4FBF6AC-2761-4DF4-A117-648CA6594B48");
inline constexpr GUID kHardwareNodeType = MakeGuid("87B61023-10E1-48E6-953D-1EBDB46E44C9");
inline constexpr GUID kGeneralNodeType = MakeGuid("470B0D53-610E-40C5-A7E9-29DA190CA0B6");
inline constexpr GUID kPropertyItemType = MakeGuid("6571B2F6-6C6B-48C5-9005-2E1444B9D35E");

// Context-menu command ids, per node type.
// The root ("My Linux Servers"):
constexpr long IDM_ADD_GROUP = 0;
constexpr long IDM_SAVE_PASSWORDS = 1;
constexpr long IDM_ABOUT = 2;
// A group:
constexpr long IDM_ADD_HOST = 2;
constexpr long IDM_DELETE_GROUP = 3;
// A host:
constexpr long IDM_REMOVE_HOST = 2;
constexpr long IDM_REFRESH_HOST = 3;
constexpr long IDM_EDIT_HOST = 4;
// "Refresh All" of the root and of a group.
constexpr long IDM_REFRESH_ALL = 5;
// "Import Hosts..." of a group.
constexpr long IDM_IMPORT_HOSTS = 64;

// The columns of a group's list: one line per host.
enum EHostColumn { HOST_COL_NAME, HOST_COL_LAST_SCAN, HOST_COL_RESULT, HOST_COL_LOGIN, HOST_COL_SUDO, HOST_COL_COUNT };
// The result column of a host whose last scan succeeded holds this word; any
// other text there is the reason the scan failed (empty: never scanned).
inline constexpr char16_t kScanResultOk[] = u"OK";

// The registry keys below HKEY_CURRENT_USER that hold the product's settings
// (DWORD and text values) and the upload library's.
inline constexpr char16_t kProductSettingsKey[] = u"Software\\Quillon\\Ferrodex";
inline constexpr char16_t kUploadSettingsKey[] = u"Software\\Quillon\\Corvel";
// The product's settings, by value name (platform/product_settings.h holds
// the defaults and bounds of the numbers).
inline constexpr char16_t kConnectTimeoutSetting[] = u"ConnectTimeoutSeconds";
inline constexpr char16_t kLoginTimeoutSetting[] = u"LoginTimeoutSeconds";
inline constexpr char16_t kCommandTimeoutSetting[] = u"CommandTimeoutSeconds";
inline constexpr char16_t kMaxOutputSetting[] = u"MaxOutputMiB";
inline constexpr char16_t kRefreshJobsSetting[] = u"RefreshJobs";
inline constexpr char16_t kStrictHostKeysSetting[] = u"StrictHostKeys";
inline constexpr char16_t kPacketLogLevelSetting[] = u"PacketLogLevel";
// The upload library's: SFTP writes in flight.
inline constexpr char16_t kSftpRequestsSetting[] = u"SftpRequests";
// Set for one process only, by a host that drives "Refresh All" from a
// script: which hosts to scan ("group" or "group/host" lines; none: all),
// whether to deploy the scan engine without asking (DWORD 1), and which
// hosts' changed keys to trust (the same lines).
inline constexpr char16_t kRefreshChoiceSetting[] = u"RefreshChoice";
inline constexpr char16_t kRefreshDeploySetting[] = u"RefreshDeploy";
inline constexpr char16_t kRefreshTrustSetting[] = u"RefreshTrustChangedKeys";
// Set for one process only: every scan of the process runs lshw through
// sudo (DWORD 1), as if each host asked for it.
inline constexpr char16_t kSudoThisRunSetting[] = u"ScanWithSudoThisRun";

// The clipboard format of a hardware picture a console hands to a host node
// through a paste: the lshw XML in UTF-16LE, ended by a zero unit. The host
// keeps it as it keeps one read from the console file (no scan of this
// session), and expanding the host shows it without contacting the server.
inline constexpr char16_t kHostPictureXmlFormat[] = u"FERRODEX_HOST_XML";

// The clipboard format by which the root node's data object tells whether
// the snap-in's state holds secrets sealed under a main password (and is
// saved so): one byte, 1 sealed, 0 plain. A host notes a console file whose
// state was sealed and warns when it opens in plain form later.
inline constexpr char16_t kSealedStateFormat[] = u"FERRODEX_SEALED_STATE";
