// The platform's Windows side against the real system (under Wine): XML
// through MSXML, the registry, sockets, atomic files and UTF-8 paths,
// owner-only files and folders, memory streams, dialog templates and
// workers. Exit code 0 when every check holds.
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/atomic_file.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/registry.h"
#include "platform/stream.h"
#include "platform/text.h"
#include "platform/winsock.h"
#include "platform/windows/dialog_template.h"
#include "platform/worker_process.h"
#include "platform/xml.h"

namespace {

int g_failures = 0;

void Check(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "FAILED: %s\n", what);
        ++g_failures;
    }
}

void XmlThroughMsxml()
{
    com_ptr<IXMLDOMDocument> document;
    Check(SUCCEEDED(CreateXmlDocument(CLSID_DOMDocument, document.put())) && document, "an XML document is made");
    if (!document) return;
    Check(!xml::LoadText(document, u"<node><unclosed></node>"), "malformed XML is refused");
    Check(xml::LoadText(document, u"<list><node id=\"core\" class=\"bus\"><description>Board</description>"
                                  u"<!-- note --><node id=\"cpu\"/></node></list>"),
          "well-formed XML loads");
    const auto root = document.query<IXMLDOMNode>();
    const auto top = xml::SelectSingleNode(root, u"/list/node");
    Check(top && xml::NodeName(top) == u"node", "an XPath selection finds the element");
    if (!top) return;
    Check(xml::Attribute(top, u"id") == u"core", "an attribute is read");
    Check(xml::AttributeOrEmpty(top, u"missing").empty(), "a missing attribute reads empty");
    bool thrown = false;
    try {
        xml::Attribute(top, u"missing");
    } catch (const ComError& e) {
        thrown = e.Error() == E_POINTER;
    }
    Check(thrown, "a missing attribute raises E_POINTER");
    std::vector<std::u16string> names;
    for (auto child = xml::View(top).FirstChild(); child; child = child.NextSibling()) names.push_back(child.Name());
    Check(names == std::vector<std::u16string>{u"description", u"#comment", u"node"}, "the children are walked in order");
    const auto first = xml::View(top).FirstChild();
    Check(first.IsElement("description") && first.Text() == u"Board", "a view reads an element's name and text");
    std::u16string id;
    Check(first.NextSibling().NextSibling().Attribute("id", id) && id == u"cpu", "a view reads attributes");
}

void Registry()
{
    const std::u16string key = u"Software\\Ferrodex platform test";
    Check(RegWriteString(HKEY_CURRENT_USER, key + u"\\Inner", u"Name", u"v\u00e4lue") == ERROR_SUCCESS,
          "a string value is written");
    Check(RegWriteDword(HKEY_CURRENT_USER, key, u"Count", 0x12345678) == ERROR_SUCCESS, "a number is written");
    std::u16string text;
    DWORD number = 0;
    Check(RegReadString(HKEY_CURRENT_USER, key + u"\\Inner", u"Name", text) && text == u"v\u00e4lue",
          "the string reads back whole");
    Check(RegReadDword(HKEY_CURRENT_USER, key, u"Count", number) && number == 0x12345678, "the number reads back");
    HKEY raw = nullptr;
    Check(RegOpenKeyEx(HKEY_CURRENT_USER, key, KEY_ALL_ACCESS, &raw) == ERROR_SUCCESS, "the key opens");
    RegKeyPtr opened(raw);
    std::u16string child;
    Check(opened && RegEnumKey(opened.get(), 0, &child) == ERROR_SUCCESS && child == u"Inner", "subkeys are listed");
    Check(opened && RegEnumKey(opened.get(), 1, &child) == ERROR_NO_MORE_ITEMS, "the list ends");
    Check(opened && RegDeleteKey(opened.get(), u"Inner") == ERROR_SUCCESS, "a subkey is deleted");
    opened.reset();
    Check(RegDeleteKey(HKEY_CURRENT_USER, key) == ERROR_SUCCESS, "the key is deleted");
}

void Sockets()
{
    winsock::WSADATA data{};
    Check(winsock::WSAStartup(0x0202, &data) == 0, "sockets start");
    winsock::SOCKET ends[2] = {winsock::INVALID_SOCKET, winsock::INVALID_SOCKET};
    Check(winsock::socket_pair(ends) == 0, "a socket pair is made");
    Check(winsock::wait_readable(ends[1], CDeadline::In(std::chrono::milliseconds(0))) == 0, "nothing to read yet");
    Check(winsock::send(ends[0], "ping", 4, 0) == 4, "bytes are sent");
    Check(winsock::wait_readable_either(ends[0], ends[1], CDeadline::InSeconds(5)) == 2, "the other end is readable");
    char buffer[8] = {};
    Check(winsock::recv(ends[1], buffer, sizeof buffer, 0) == 4 && std::string(buffer, 4) == "ping", "bytes arrive");
    winsock::closesocket(ends[0]);
    winsock::closesocket(ends[1]);
    std::uint32_t address = 0;
    Check(winsock::inet_addr("127.0.0.1") == winsock::htonl(0x7F000001), "dotted addresses parse");
    Check(winsock::inet_addr("no address") == winsock::INADDR_NONE, "other text is no address");
    Check(winsock::gethostbyname("localhost", &address), "localhost resolves");
    winsock::WSACleanup();
}

void Files()
{
    const std::string path = "platform-test.bin";
    const std::vector<std::uint8_t> bytes{1, 2, 3, 4, 5};
    std::string error;
    Check(WriteFileAtomically(path, bytes, error), "a file is written atomically");
    Check(WriteFileAtomically(path, bytes, error), "and replaced");
    std::vector<std::uint8_t> read;
    Check(ReadFileLimited(path, 5, read, error) == FileReadResult::Ok && read == bytes, "it reads back");
    Check(ReadFileLimited(path, 4, read, error) == FileReadResult::TooLarge, "a limit is kept");
    Check(StampOfFile(path).exists && StampOfFile(path).size == 5, "its stamp has its size");
    ::DeleteFileA(path.c_str());
    Check(ReadFileLimited(path, 5, read, error) == FileReadResult::Missing, "a missing file is told apart");

    // Paths are UTF-8, whatever the system's code page: a folder and a file
    // whose names no code page holds together.
    wchar_t here[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, here);
    const std::string folder = WideToAnsi(std::u16string(here, here + std::wcslen(here))) +
                               "\\J\xc3\xbcrgen-\xce\xb1\xce\xb2-\xe6\x96\x87";
    const std::string inside = folder + "\\\xd0\xb4\xd0\xb0\xd0\xbd\xd0\xbd\xd1\x8b\xd0\xb5.bin";
    Check(MakePrivateFolder(folder), "a folder with a non-ASCII name is made");
    Check(WriteFileAtomically(inside, bytes, error), "a file with a non-ASCII name is written in it");
    const DWORD attributes = GetFileAttributesUtf8(folder.c_str());
    Check(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0,
          "the folder is found by its UTF-8 name");
    const HANDLE file = CreateFileUtf8(inside.c_str(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
    Check(file != INVALID_HANDLE_VALUE, "the file opens by its UTF-8 name");
    if (file != INVALID_HANDLE_VALUE) {
        std::uint8_t buffer[8] = {};
        DWORD got = 0;
        Check(ReadFile(file, buffer, sizeof buffer, &got) && got == bytes.size() && buffer[4] == 5, "and reads");
        ::CloseHandle(file);
    }
    WIN32_FIND_DATAA entry{};
    const HANDLE search = FindFirstFileUtf8((folder + "\\*.bin").c_str(), &entry);
    Check(search != INVALID_HANDLE_VALUE && inside.ends_with(entry.cFileName), "a search gives its UTF-8 name");
    if (search != INVALID_HANDLE_VALUE) ::FindClose(search);
    const std::u16string wideInside = AnsiToWide(inside);
    const std::u16string wideFolder = AnsiToWide(folder);
    ::DeleteFileW(std::wstring(wideInside.begin(), wideInside.end()).c_str());
    ::RemoveDirectoryW(std::wstring(wideFolder.begin(), wideFolder.end()).c_str());
}

// The access list of a file or folder in its text form ("D:P(A;...)...").
std::wstring AccessText(const std::wstring& path)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PACL dacl = nullptr;
    if (::GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                                nullptr, &descriptor) != ERROR_SUCCESS)
        return {};
    LPWSTR text = nullptr;
    std::wstring result;
    if (::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION,
                                                               &text, nullptr)) {
        result = text;
        ::LocalFree(text);
    }
    ::LocalFree(descriptor);
    return result;
}

// Whether the system applies an access list set on an existing file: Wine
// answers for file access from the Unix mode bits, which such a change
// leaves as they were.
bool AppliesAccessLists(const std::wstring& probe)
{
    const HANDLE file = ::CreateFileW(probe.c_str(), GENERIC_WRITE | WRITE_DAC, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:P(A;;FA;;;SY)", SDDL_REVISION_1, &descriptor,
                                                               nullptr) &&
        ::GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted))
        ::SetSecurityInfo(file, SE_FILE_OBJECT, DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                          nullptr, nullptr, dacl, nullptr);
    ::LocalFree(descriptor);
    ::CloseHandle(file);
    const std::wstring access = AccessText(probe);
    const bool applied = access.rfind(L"D:P", 0) == 0 && access.find(L";;;WD)") == std::wstring::npos;
    ::DeleteFileW(probe.c_str());
    return applied;
}

// A file and a folder that were there before, open to everyone, are taken
// for secrets: each is opened with the right to replace its access list and
// narrowed, so that neither lets everyone in nor inherits any more (checked
// where the system applies such a change; elsewhere the narrowing must
// still not refuse them).
void OwnerOnly()
{
    wchar_t here[MAX_PATH] = {};
    ::GetCurrentDirectoryW(MAX_PATH, here);
    const std::wstring folder = std::wstring(here) + L"\\open-folder";
    const std::wstring file = folder + L"\\open-file.txt";
    PSECURITY_DESCRIPTOR open = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(L"D:(A;OICI;FA;;;WD)", SDDL_REVISION_1, &open, nullptr)) {
        Check(false, "an access list open to everyone is made");
        return;
    }
    SECURITY_ATTRIBUTES attributes{sizeof attributes, open, FALSE};
    ::CreateDirectoryW(folder.c_str(), &attributes);
    const HANDLE made = ::CreateFileW(file.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS, 0, nullptr);
    if (made != INVALID_HANDLE_VALUE) ::CloseHandle(made);
    ::LocalFree(open);
    Check(AccessText(file).find(L";;;WD)") != std::wstring::npos, "the file starts open to everyone");

    const std::string path = WideToAnsi(std::u16string(file.begin(), file.end()));
    Check(CreateOwnerOnlyFile(path), "an existing file is taken as owner-only");
    Check(MakePrivateFolder(WideToAnsi(std::u16string(folder.begin(), folder.end()))), "an existing folder is taken");
    if (AppliesAccessLists(folder + L"\\probe.txt")) {
        const auto narrowed = [](const std::wstring& access) {
            return access.rfind(L"D:P", 0) == 0 && access.find(L";;;WD)") == std::wstring::npos;
        };
        Check(narrowed(AccessText(file)), "the file is narrowed to its owner");
        Check(narrowed(AccessText(folder)), "the folder is narrowed to its owner");
    }
    ::DeleteFileW(file.c_str());
    ::RemoveDirectoryW(folder.c_str());
}

void Streams()
{
    com_ptr<IStream> stream = CreateMemoryStream({9, 8, 7});
    std::uint64_t size = 0;
    std::uint64_t position = 1;
    Check(SUCCEEDED(StreamSize(stream.get(), size)) && size == 3, "a memory stream has its initial bytes");
    Check(SUCCEEDED(StreamPosition(stream.get(), position)) && position == 0, "and starts at their beginning");
    Check(MemoryStreamBytes(stream.get()) == std::vector<std::uint8_t>{9, 8, 7}, "its bytes are read whole");
    com_ptr<IStream> limited = CreateLimitedStream(4);
    ULONG written = 0;
    Check(limited->Write("abcdef", 6, &written) == STG_E_MEDIUMFULL && written == 4, "a full medium takes what fits");
}

void DialogTemplates()
{
    DialogTemplate dialog;
    dialog.title = u"Add";
    dialog.controls = {{1001, "static", u"Name:", 0, true, false}, {1002, "edit", u"", 64, true, true},
                       {1003, "check", u"Sudo", 0, false, false}, {1, "button", u"OK", 0, true, false},
                       {2, "button", u"Cancel", 0, true, false}};
    const std::vector<WORD> words = BuildDialogTemplate(dialog, false);
    Check(words.size() > 20 && words[0] == 1 && words[1] == 0xFFFF, "an extended template is made");
    Check(words.size() > 8 && words[8] == dialog.controls.size(), "every control is in it");
}

int EchoBody(int input, int output)
{
    std::string record;
    if (!ReadWorkerPipe(input, 1 << 20, record)) return 3;
    CloseWorkerPipe(input);
    return WriteWorkerPipe(output, "echo:" + record) ? 0 : 4;
}

void Workers()
{
    CWorkerProcess worker;
    std::string reason;
    Check(worker.Start(&EchoBody, 1 << 20, reason), "a worker starts");
    const std::string record(200000, 'x');
    Check(worker.Send(record, CDeadline::InSeconds(10)), "a record larger than a pipe's buffer is handed over");
    CWorkerProcess::EState state = CWorkerProcess::EState::Running;
    const CDeadline until = CDeadline::InSeconds(30);
    while (state == CWorkerProcess::EState::Running && !until.Passed()) {
        CWorkerProcess* one[] = {&worker};
        CWorkerProcess::WaitForAny(one, 200);
        state = worker.Pump();
    }
    Check(state == CWorkerProcess::EState::Finished && worker.ExitStatus() == 0, "the worker finishes");
    Check(worker.Answer() == "echo:" + record, "its answer arrives whole");

    CWorkerProcess small;
    Check(small.Start(&EchoBody, 10, reason) && small.Send("more than ten bytes", CDeadline::InSeconds(10)),
          "a second worker starts");
    state = CWorkerProcess::EState::Running;
    while (state == CWorkerProcess::EState::Running && !until.Passed()) state = small.Pump();
    Check(state == CWorkerProcess::EState::TooLarge, "an answer beyond the bound is refused");
}

}  // namespace

int main()
{
    ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    XmlThroughMsxml();
    Registry();
    Sockets();
    Files();
    OwnerOnly();
    Streams();
    DialogTemplates();
    Workers();
    ::CoUninitialize();
    std::fprintf(stderr, "%s\n", g_failures == 0 ? "all platform checks passed" : "some platform checks failed");
    return g_failures == 0 ? 0 : 1;
}
