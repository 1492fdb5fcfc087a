// A second container, as a process of its own:
//   fault_container hold <document> <ready-file>
//   fault_container edit <document> <ready-file>
// Both open the drawing in <document> and write <ready-file> (the open's and the
// verb's results) once the drawing is with the editor. "hold" then only keeps
// its references, for a test that kills the process in the middle of the edit;
// "edit" waits for the edit to come back, saves the document, lets the drawing
// go and writes <ready-file>.result.

#include <cstdio>
#include <cstring>
#include <string>

#include "tests/faults/fault_support.h"

using namespace faults;

namespace {

void WriteText(const std::wstring& path, const std::string& text)
{
    bridge_test::WriteFileBytes(path + L".part", BytesOfText(text));
    ::MoveFileExW((path + L".part").c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING);
}

std::string Hex(HRESULT hr)
{
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 4)
        return 2;
    const std::string mode = argv[1];
    const std::wstring document(argv[2], argv[2] + std::strlen(argv[2]));
    const std::wstring ready(argv[3], argv[3] + std::strlen(argv[3]));
    testing_support::Apartment apartment;
    FaultSite site;
    ContainerDrawing drawing(document, &site);
    const HRESULT opened = drawing.Open();
    const HRESULT edited = SUCCEEDED(opened) ? drawing.Edit() : E_ABORT;
    WriteText(ready, "open=" + Hex(opened) + "\nverb=" + Hex(edited) + "\n");
    if (FAILED(edited))
        return 1;

    if (mode == "hold") {
        testing_support::PumpMessagesFor(180000);
        return 3;
    }
    const bool back = WaitFor([&] { return site.dataChanges >= 2; }, 90000);
    const HRESULT saved = drawing.Save();
    drawing.Release();
    WriteText(ready + L".result", "back=" + std::to_string(back) + "\nchanges=" +
                                      std::to_string(site.dataChanges) + "\nsave=" + Hex(saved) + "\n");
    return back && SUCCEEDED(saved) ? 0 : 1;
}
