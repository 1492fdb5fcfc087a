#pragma once

// What the platform reads about the embedded drawing's class from its
// registration, in the calling process's registry view: the user types, the
// verbs and the status that the class script gives.

#include <windows.h>
#include <ole2.h>

#include <gtest/gtest.h>

#include <map>
#include <string>

#include <wrl/client.h>

#include "server/class_ids.h"
#include "server/handles.h"

namespace testing_support {

inline void ExpectEmbeddedClassAsRegistered()
{
    struct
    {
        DWORD form;
        const wchar_t* expected;
    } userTypes[] = {{USERCLASSTYPE_FULL, L"Quillmorph OLE"},
                     {USERCLASSTYPE_SHORT, L"Quillmorph OLE"},
                     {USERCLASSTYPE_APPNAME, L"Quillmorph OLE Server"}};
    for (const auto& userType : userTypes) {
        LPOLESTR text = nullptr;
        EXPECT_EQ(::OleRegGetUserType(CLSID_QuillmorphEmbeddedObject, userType.form, &text), S_OK);
        UniqueTaskMemory owner(text);
        ASSERT_NE(text, nullptr);
        EXPECT_STREQ(text, userType.expected) << "form " << userType.form;
    }

    Microsoft::WRL::ComPtr<IEnumOLEVERB> verbs;
    ASSERT_EQ(::OleRegEnumVerbs(CLSID_QuillmorphEmbeddedObject, verbs.GetAddressOf()), S_OK);
    std::map<LONG, std::wstring> found;
    OLEVERB verb;
    while (verbs->Next(1, &verb, nullptr) == S_OK) {
        found[verb.lVerb] = std::wstring(verb.lpszVerbName) + L"," + std::to_wstring(verb.fuFlags) + L"," +
                            std::to_wstring(verb.grfAttribs);
        ::CoTaskMemFree(verb.lpszVerbName);
    }
    EXPECT_EQ(found, (std::map<LONG, std::wstring>{
                         {-3, L"Hide,0,1"}, {-2, L"Open,0,0"}, {-1, L"Show,0,0"}, {0, L"&Edit,0,0"}}));

    DWORD status = 0xFFFFFFFF;
    EXPECT_EQ(::OleRegGetMiscStatus(CLSID_QuillmorphEmbeddedObject, DVASPECT_CONTENT, &status), S_OK);
    EXPECT_EQ(status, 0u);
}

} // namespace testing_support
