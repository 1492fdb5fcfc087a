#include "check/drawing_application_check.h"

#include "bridge/editor_paths.h"

CheckResult CheckDrawingApplication(const Installation& installation)
{
    CheckResult result{L"drawing-application", L"Drawing application"};
    // The server's own rules decide: the same functions pick the editor when a
    // drawing is opened.
    const std::wstring folder = InstallationFolder(installation.server);
    if (folder.empty()) {
        result.status = CheckStatus::Fail;
        result.detail = L"the server is not installed as resources\\QuillmorphOLE.exe inside the drawing "
                        L"application's folder (it is " +
                        installation.server + L"), so it cannot find the drawing application";
        result.advice =
            L"put QuillmorphOLE.exe (and this program) into the \"resources\" folder of the drawing "
            L"application's installation folder, then register it again there with /RegServer.";
        return result;
    }
    const std::wstring editor = MakeEditorPath(installation.server);
    if (!FileExists(editor)) {
        result.status = CheckStatus::Fail;
        result.detail = L"neither Quillmorph-beta.exe nor Quillmorph.exe is in " + folder +
                        L": opening a drawing will fail (\"cannot start the source application\")";
        result.advice = L"install the drawing application into " + folder +
                        L", or install the server into the \"resources\" folder of the drawing application's "
                        L"own folder and register it again there.";
        return result;
    }
    result.detail = editor + L" will start when a drawing is opened";
    const std::wstring release = folder + L"\\Quillmorph.exe";
    if (!SamePath(editor, release) && FileExists(release))
        result.detail += L" (Quillmorph.exe is there too; the beta build is preferred)";
    return result;
}
