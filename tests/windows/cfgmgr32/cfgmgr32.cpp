// A stand-in for the three Configuration Manager calls that wine's
// cfgmgr32.dll lacks or leaves as stubs (8.0 and 10.0 alike: 10.0 exports
// CM_Get_Device_Interface_PropertyW, but as a stub), and that hidapi's
// Windows backend needs to list and describe HID interfaces: the interface
// list, its size, and an interface's instance id. They answer through
// SetupAPI, as Windows' own cfgmgr32 does. Everything else hidapi asks for
// goes to wine's SetupAPI (cfgmgr32.def). Only the tests under wine use it:
// it is put beside the program under test and chosen with
// WINEDLLOVERRIDES=cfgmgr32=n,b, and never shipped. Windows has had all of
// these since Vista.

#define CMAPI extern "C" __declspec(dllexport)
#include <initguid.h>
// clang-format off
#include <windows.h>
#include <setupapi.h>
#include <cfgmgr32.h>
#include <devpkey.h>
// clang-format on

#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The interfaces of a class, as SetupAPI lists them, with the device each belongs to.
struct Interface {
    std::wstring path;
    std::wstring instanceId;
};

std::vector<Interface> interfacesOf(const GUID& interfaceClass, bool presentOnly)
{
    std::vector<Interface> found;
    const HDEVINFO set = SetupDiGetClassDevsW(&interfaceClass, nullptr, nullptr,
                                              DIGCF_DEVICEINTERFACE | (presentOnly ? DIGCF_PRESENT : 0));
    if (set == INVALID_HANDLE_VALUE)
        return found;
    SP_DEVICE_INTERFACE_DATA data{};
    data.cbSize = sizeof data;
    for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &interfaceClass, i, &data); ++i) {
        DWORD size = 0;
        SetupDiGetDeviceInterfaceDetailW(set, &data, nullptr, 0, &size, nullptr);
        if (size < sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W))
            continue;
        std::vector<BYTE> buffer(size);
        auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(buffer.data());
        detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!SetupDiGetDeviceInterfaceDetailW(set, &data, detail, size, nullptr, &device))
            continue;
        wchar_t id[MAX_DEVICE_ID_LEN] = {};
        SetupDiGetDeviceInstanceIdW(set, &device, id, MAX_DEVICE_ID_LEN, nullptr);
        found.push_back({detail->DevicePath, id});
    }
    SetupDiDestroyDeviceInfoList(set);
    return found;
}

// The interface class named at the end of an interface path: "...#{guid}".
bool classOfPath(const wchar_t* path, GUID& interfaceClass)
{
    const wchar_t* brace = std::wcsrchr(path, L'{');
    if (!brace || std::wcslen(brace) != 38)
        return false;
    unsigned long data1 = 0;
    unsigned data2 = 0, data3 = 0, b[8] = {};
    if (std::swscanf(brace, L"{%8lx-%4x-%4x-%2x%2x-%2x%2x%2x%2x%2x%2x}", &data1, &data2, &data3, &b[0], &b[1],
                     &b[2], &b[3], &b[4], &b[5], &b[6], &b[7])
        != 11)
        return false;
    interfaceClass.Data1 = data1;
    interfaceClass.Data2 = static_cast<unsigned short>(data2);
    interfaceClass.Data3 = static_cast<unsigned short>(data3);
    for (int i = 0; i < 8; ++i)
        interfaceClass.Data4[i] = static_cast<unsigned char>(b[i]);
    return true;
}

}  // namespace

CMAPI CONFIGRET WINAPI CM_Get_Device_Interface_List_SizeW(PULONG length, LPGUID interfaceClass, DEVINSTID_W,
                                                          ULONG flags)
{
    if (!length || !interfaceClass)
        return CR_INVALID_POINTER;
    ULONG total = 1;  // the list ends with an empty string
    for (const Interface& i :
         interfacesOf(*interfaceClass, !(flags & CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES)))
        total += static_cast<ULONG>(i.path.size() + 1);
    *length = total;
    return CR_SUCCESS;
}

CMAPI CONFIGRET WINAPI CM_Get_Device_Interface_ListW(LPGUID interfaceClass, DEVINSTID_W, PWCHAR buffer,
                                                     ULONG length, ULONG flags)
{
    if (!buffer || !interfaceClass)
        return CR_INVALID_POINTER;
    std::wstring list;
    for (const Interface& i :
         interfacesOf(*interfaceClass, !(flags & CM_GET_DEVICE_INTERFACE_LIST_ALL_DEVICES)))
        list += i.path + L'\0';
    list += L'\0';
    if (list.size() > length)
        return CR_BUFFER_SMALL;
    std::wmemcpy(buffer, list.data(), list.size());
    return CR_SUCCESS;
}

CMAPI CONFIGRET WINAPI CM_Get_Device_Interface_PropertyW(LPCWSTR path, const DEVPROPKEY* key,
                                                         DEVPROPTYPE* type, PBYTE buffer, PULONG size, ULONG)
{
    if (!path || !key || !type || !size)
        return CR_INVALID_POINTER;
    if (std::memcmp(key, &DEVPKEY_Device_InstanceId, sizeof *key) != 0)
        return CR_NO_SUCH_VALUE;
    GUID interfaceClass{};
    if (!classOfPath(path, interfaceClass))
        return CR_NO_SUCH_DEVICE_INTERFACE;
    for (const Interface& i : interfacesOf(interfaceClass, false)) {
        if (_wcsicmp(i.path.c_str(), path) != 0)
            continue;
        const auto bytes = static_cast<ULONG>((i.instanceId.size() + 1) * sizeof(wchar_t));
        *type = DEVPROP_TYPE_STRING;
        if (!buffer || *size < bytes) {
            *size = bytes;
            return CR_BUFFER_SMALL;
        }
        std::memcpy(buffer, i.instanceId.c_str(), bytes);
        *size = bytes;
        return CR_SUCCESS;
    }
    return CR_NO_SUCH_DEVICE_INTERFACE;
}
