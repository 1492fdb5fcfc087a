// The classes the server offers: the rows of its object table.

#include "app/server_module.h"
#include "bridge/dispinterface.h"
#include "embedded/embedded_object.h"
#include "server/class_factory.h"

namespace {

ObjectRegistration s_dispinterfaceRegistration = {nullptr, 0};
ObjectRegistration s_embeddedObjectRegistration = {nullptr, 0};

const wchar_t* NoDescription()
{
    return nullptr;
}
const CategoryTableEntry* NoCategories()
{
    return nullptr;
}
void NoStartStop(bool) {}

// A row's registry step: the class's script resource.
template <WORD resourceId> HRESULT UpdateClassRegistry(bool registerEntries)
{
    return ApplyRegistryResource(resourceId, registerEntries);
}

ObjectTableEntry s_dispinterfaceEntry = {
    &CLSID_QuillmorphOLE,
    &UpdateClassRegistry<IDR_QUILLMORPHOLE>,
    &CreateClassFactory,
    &CreateObjectInstance<CDispinterface>,
    &s_dispinterfaceRegistration,
    &NoDescription,
    &NoCategories,
    &NoStartStop,
};

ObjectTableEntry s_embeddedObjectEntry = {
    &CLSID_QuillmorphEmbeddedObject,
    &UpdateClassRegistry<IDR_QUILLMORPHEMBEDDEDOBJECT>,
    &CreateClassFactory,
    &CreateObjectInstance<CEmbeddedObject>,
    &s_embeddedObjectRegistration,
    &NoDescription,
    &NoCategories,
    &NoStartStop,
};

ObjectTableEntry* s_objectTable[] = {&s_dispinterfaceEntry, &s_embeddedObjectEntry};

} // namespace

ObjectTableEntry** ObjectTableFirst()
{
    return s_objectTable;
}
ObjectTableEntry** ObjectTableLast()
{
    return s_objectTable + sizeof(s_objectTable) / sizeof(s_objectTable[0]);
}
