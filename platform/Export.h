// Symbol export macros for the host libraries VCL50 (core classes) and INET50
// (web classes). Both are shared libraries built with hidden visibility, so
// everything a host or a package module uses must carry one of these marks.
#pragma once

#if defined(_WIN32)
#define VEK_DLL_EXPORT __declspec(dllexport)
#define VEK_DLL_IMPORT __declspec(dllimport)
#else
#define VEK_DLL_EXPORT __attribute__((visibility("default")))
#define VEK_DLL_IMPORT __attribute__((visibility("default")))
#endif

// Marks a class whose run-time type information other modules must see while
// its members are exported one by one. On ELF the class's visibility carries
// it; a Windows DLL names its type information in its module definition
// (.def) file instead, so the mark is empty there.
#if defined(_WIN32)
#define VEK_TYPEINFO_VISIBLE
#elif defined(__clang__)
#define VEK_TYPEINFO_VISIBLE __attribute__((type_visibility("default")))
#else
#define VEK_TYPEINFO_VISIBLE __attribute__((visibility("default")))
#endif

#if defined(VCL50_BUILDING)
#define VCL50_API VEK_DLL_EXPORT
#else
#define VCL50_API VEK_DLL_IMPORT
#endif

#if defined(INET50_BUILDING)
#define INET50_API VEK_DLL_EXPORT
#else
#define INET50_API VEK_DLL_IMPORT
#endif
