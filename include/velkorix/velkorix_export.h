/* Symbol export control for the Velkorix C interface. */
#ifndef VELKORIX_EXPORT_H
#define VELKORIX_EXPORT_H

#if defined(_WIN32)
/* The Windows module names its exports in a module-definition file. */
#  define VELKORIX_API
#elif defined(VELKORIX_BUILDING)
#  define VELKORIX_API __attribute__((visibility("default")))
#else
#  define VELKORIX_API
#endif

#endif
