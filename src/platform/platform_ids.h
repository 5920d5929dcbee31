// Identifiers of the platform's own interfaces and classes that the COM base,
// the stand-in's run-time and the module's registration answer to or ask
// for: IUnknown, IClassFactory and the filter mapper's classes and
// interfaces. The names are bound to the platform's own definitions: on
// Windows those of the SDK (the uuid and strmiids libraries), in the portable
// stand-in its own (platform.h and win_api.h there).
#pragma once

#include "platform.h"

namespace velkorix {

// {00000000-0000-0000-0000-000000000000}
inline constexpr const GUID &kNullGuid = GUID_NULL;
// IUnknown {00000000-0000-0000-C000-000000000046}
inline constexpr const IID &kIidUnknown = IID_IUnknown;
// IClassFactory {00000001-0000-0000-C000-000000000046}
inline constexpr const IID &kIidClassFactory = IID_IClassFactory;

// The platform's filter mapper: CLSID_FilterMapper2 with IFilterMapper2, and
// the older CLSID_FilterMapper with IFilterMapper.
// {CDA42200-BD88-11D0-BD4E-00A0C911CE86}
inline constexpr const CLSID &kClsidFilterMapper2 = CLSID_FilterMapper2;
// {B79BB0B0-33C1-11D1-ABE1-00A0C905F375}
inline constexpr const IID &kIidFilterMapper2 = IID_IFilterMapper2;
// {E436EBB2-524F-11CE-9F53-0020AF0BA770}
inline constexpr const CLSID &kClsidFilterMapper = CLSID_FilterMapper;
// {56A868A3-0AD4-11CE-B03A-0020AF0BA770}
inline constexpr const IID &kIidFilterMapper = IID_IFilterMapper;

}  // namespace velkorix
