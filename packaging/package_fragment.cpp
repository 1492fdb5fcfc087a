#include "packaging/package_fragment.h"

#include <algorithm>
#include <iterator>

namespace {

const struct
{
    wchar_t character;
    const wchar_t* entity;
} kXmlEntities[] = {{L'&', L"&amp;"}, {L'<', L"&lt;"}, {L'>', L"&gt;"}, {L'"', L"&quot;"}};

std::wstring XmlAttribute(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text) {
        const auto* entity = std::find_if(std::begin(kXmlEntities), std::end(kXmlEntities),
                                          [c](const auto& e) { return e.character == c; });
        if (entity != std::end(kXmlEntities))
            out += entity->entity;
        else
            out += c;
    }
    return out;
}

const wchar_t* RootName(int root)
{
    switch (root) {
    case kRootUserOrMachine:
        return L"HKMU";
    case 1:
        return L"HKCU";
    case 2:
        return L"HKLM";
    case 3:
        return L"HKU";
    default:
        return nullptr;
    }
}

// WiX reads "$(" as the start of a preprocessor variable.
bool ReadsAsVariable(const std::wstring& text)
{
    return text.find(L"$(") != std::wstring::npos;
}

// One registry row as WiX authors it. A Value column "#n" is a number; the
// builder doubles a leading '#' of a string itself, so "##" cannot be given.
HRESULT RowElement(const PackageRow& row, bool keyPath, std::wstring* element)
{
    const wchar_t* root = RootName(row.root);
    if (!root || ReadsAsVariable(row.key) || ReadsAsVariable(row.name) || ReadsAsVariable(row.value))
        return E_NOTIMPL;
    const std::wstring where = L"Root=\"" + std::wstring(root) + L"\" Key=\"" + XmlAttribute(row.key) + L"\"";
    if (row.name == kKeyRowName) {
        *element =
            L"<RegistryKey " + where + L" ForceCreateOnInstall=\"yes\" ForceDeleteOnUninstall=\"yes\"/>";
        return S_OK;
    }
    std::wstring type = L"string";
    std::wstring value = row.value;
    if (!value.empty() && value[0] == L'#') {
        if (value.size() > 1 && value[1] == L'#')
            return E_NOTIMPL;
        type = L"integer";
        value.erase(0, 1);
    }
    *element = L"<RegistryValue " + where +
               (row.name.empty() ? std::wstring() : L" Name=\"" + XmlAttribute(row.name) + L"\"") +
               L" Type=\"" + type + L"\" Value=\"" + XmlAttribute(value) + L"\"" +
               (keyPath ? L" KeyPath=\"yes\"" : L"") + L"/>";
    return S_OK;
}

// The statement that puts a key row into a package built by wixl.
HRESULT KeyRowStatement(const PackageRow& row, const wchar_t* component, size_t number,
                        std::wstring* statement)
{
    if (row.key.find(L'\'') != std::wstring::npos)
        return E_NOTIMPL;
    *statement = L"INSERT INTO `Registry` (`Registry`, `Root`, `Key`, `Name`, `Component_`) VALUES "
                 L"('QuillmorphKeyRow" +
                 std::to_wstring(number) + L"', " + std::to_wstring(row.root) + L", '" + row.key + L"', '" +
                 kKeyRowName + L"', '" + component + L"')\n";
    return S_OK;
}

class FragmentWriter
{
public:
    explicit FragmentWriter(PackageFragment* fragment) : m_fragment(fragment) {}

    void OpenComponent(const PackageComponent& component, bool win64)
    {
        m_fragment->wix += L"      <Component Id=\"" + std::wstring(component.id) + L"\" Guid=\"" +
                           component.guid + L"\"" + (win64 ? L" Win64=\"yes\"" : L"") + L">\n";
    }

    void File(const wchar_t* key)
    {
        m_fragment->wix += L"        <File Id=\"" + std::wstring(key) + L"\" Name=\"" + key +
                           L"\" Source=\"$(var.QuillmorphBinDir)/" + key + L"\" KeyPath=\"yes\"/>\n";
    }

    // The rows into the open component; with rowKeyPath, its first value row
    // is the component's key path.
    HRESULT Rows(const std::vector<PackageRow>& rows, const wchar_t* component, bool rowKeyPath)
    {
        for (const PackageRow& row : rows) {
            const bool keyPath = rowKeyPath && row.name != kKeyRowName;
            rowKeyPath = rowKeyPath && !keyPath;
            std::wstring element;
            HRESULT hr = RowElement(row, keyPath, &element);
            if (SUCCEEDED(hr) && row.name == kKeyRowName) {
                std::wstring statement;
                hr = KeyRowStatement(row, component, ++m_keyRows, &statement);
                m_fragment->wixlMends += statement;
            }
            if (FAILED(hr))
                return hr;
            m_fragment->wix += L"        " + element + L"\n";
        }
        return S_OK;
    }

    void CloseComponent() { m_fragment->wix += L"      </Component>\n"; }

private:
    PackageFragment* m_fragment;
    size_t m_keyRows = 0;
};

std::wstring Preamble(const PackageViews& views)
{
    const std::wstring own = std::to_wstring(views.own.size());
    return L"<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
           L"<!-- Made by the build from the server's registry scripts and type library; do not edit.\n"
           L"     The component group QuillmorphOLE installs QuillmorphOLE.exe and QuillmorphCheck.exe into\n"
           L"     the folder \"resources\" below INSTALLDIR (the drawing application's folder), with the\n"
           L"     entries /RegServer writes as registry rows: " +
           own +
           (views.other.empty() ? L" rows." : L" in the 64-bit view and " + own + L" in the 32-bit view.") +
           L"\n     The folder holding the two programs is the preprocessor variable QuillmorphBinDir. -->\n"
           L"<Wix xmlns=\"http://schemas.microsoft.com/wix/2006/wi\">\n"
           L"  <Fragment>\n"
           L"    <DirectoryRef Id=\"" +
           kInstallDirectoryKey +
           L"\">\n"
           L"      <Directory Id=\"" +
           kResourcesDirectoryKey +
           L"\" Name=\"resources\"/>\n"
           L"    </DirectoryRef>\n"
           L"    <ComponentGroup Id=\"QuillmorphOLE\" Directory=\"" +
           kResourcesDirectoryKey + L"\">\n";
}

} // namespace

HRESULT MakePackageFragment(const PackageLayout& layout, const PackageViews& views, PackageFragment* fragment)
{
    if (!fragment)
        return E_POINTER;
    if (!layout.otherView.id != views.other.empty())
        return E_INVALIDARG;
    *fragment = PackageFragment();
    fragment->wix = Preamble(views);
    FragmentWriter writer(fragment);

    writer.OpenComponent(layout.server, layout.win64);
    writer.File(kServerFileKey);
    HRESULT hr = writer.Rows(views.own, layout.server.id, false);
    if (FAILED(hr))
        return hr;
    writer.CloseComponent();
    if (layout.otherView.id) {
        writer.OpenComponent(layout.otherView, false);
        hr = writer.Rows(views.other, layout.otherView.id, true);
        if (FAILED(hr))
            return hr;
        writer.CloseComponent();
    }
    writer.OpenComponent(layout.check, layout.win64);
    writer.File(kCheckFileKey);
    writer.CloseComponent();
    fragment->wix += L"    </ComponentGroup>\n  </Fragment>\n</Wix>\n";
    return S_OK;
}
