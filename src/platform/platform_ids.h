// Identifiers of the platform's own interfaces and classes that the COM base
// and the stand-in's run-time answer to: IUnknown, IClassFactory and the
// filter mapper's classes and interfaces.
#pragma once

#include "platform.h"

namespace velkorix {

// {00000000-0000-0000-0000-000000000000}
inline constexpr GUID kNullGuid = {0x00000000, 0x0000, 0x0000, {0, 0, 0, 0, 0, 0, 0, 0}};
// IUnknown {00000000-0000-0000-C000-000000000046}
inline constexpr IID kIidUnknown = {0x00000000, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};
// IClassFactory {00000001-0000-0000-C000-000000000046}
inline constexpr IID kIidClassFactory = {0x00000001, 0x0000, 0x0000, {0xC0, 0, 0, 0, 0, 0, 0, 0x46}};

// The platform's filter mapper: CLSID_FilterMapper2 with IFilterMapper2, and
// the older CLSID_FilterMapper with IFilterMapper.
// {CDA42200-BD88-11D0-BD4E-00A0C911CE86}
inline constexpr CLSID kClsidFilterMapper2 = {0xCDA42200, 0xBD88, 0x11D0, {0xBD, 0x4E, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
// {B79BB0B0-33C1-11D1-ABE1-00A0C905F375}
inline constexpr IID kIidFilterMapper2 = {0xB79BB0B0, 0x33C1, 0x11D1, {0xAB, 0xE1, 0x00, 0xA0, 0xC9, 0x05, 0xF3, 0x75}};
// {E436EBB2-524F-11CE-9F53-0020AF0BA770}
inline constexpr CLSID kClsidFilterMapper = {0xE436EBB2, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// {56A868A3-0AD4-11CE-B03A-0020AF0BA770}
inline constexpr IID kIidFilterMapper = {0x56A868A3, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

}  // namespace velkorix
