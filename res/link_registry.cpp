// The registry script of the live link's COM class (CAppEventHandler): its ProgIDs, class id,
// in-process server and type library, run under HKEY_CLASSES_ROOT when the application loads.
// The three GUIDs are those of link/appeventhandler.h.
#include "platform/win/resource.h"
#include "res/resource_table.h"

namespace {

const char kAppEventHandlerScript[] = R"(HKCR
{
	Vanta.AppEventHandler.1 = s 'AppEventHandler Class'
	{
		CLSID = s '{2A987101-9B7F-4DA0-928A-EC5CF35801A3}'
	}
	Vanta.AppEventHandler = s 'AppEventHandler Class'
	{
		CLSID = s '{2A987101-9B7F-4DA0-928A-EC5CF35801A3}'
		CurVer = s 'Vanta.AppEventHandler.1'
	}
	NoRemove CLSID
	{
		ForceRemove {2A987101-9B7F-4DA0-928A-EC5CF35801A3} = s 'AppEventHandler Class'
		{
			ProgID = s 'Vanta.AppEventHandler.1'
			VersionIndependentProgID = s 'Vanta.AppEventHandler'
			ForceRemove 'Programmable'
			InprocServer32 = s '%MODULE%'
			{
				val ThreadingModel = s 'Apartment'
			}
			'TypeLib' = s '{D61DAA7F-5EAB-420F-AF70-2765ACB67422}'
		}
	}
}
)";

const res::TemplateEntry kLinkRegistry[] = {{RT_REGISTRY_ID, 1016, kAppEventHandlerScript}};
const res::TemplateTable kLinkRegistryTable(kLinkRegistry);

}  // namespace
