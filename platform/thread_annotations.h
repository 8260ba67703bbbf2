// Clang thread-safety attributes. Empty under other compilers; a clang build with
// -Wthread-safety checks that every guarded member is touched only under its lock.
#pragma once

#if defined(__clang__)
#define EM_TSA(x) __attribute__((x))
#else
#define EM_TSA(x)
#endif

#define EM_CAPABILITY(x) EM_TSA(capability(x))
#define EM_SCOPED_CAPABILITY EM_TSA(scoped_lockable)
#define EM_GUARDED_BY(x) EM_TSA(guarded_by(x))
#define EM_PT_GUARDED_BY(x) EM_TSA(pt_guarded_by(x))
#define EM_ACQUIRED_BEFORE(...) EM_TSA(acquired_before(__VA_ARGS__))
#define EM_ACQUIRED_AFTER(...) EM_TSA(acquired_after(__VA_ARGS__))
#define EM_REQUIRES(...) EM_TSA(requires_capability(__VA_ARGS__))
#define EM_ACQUIRE(...) EM_TSA(acquire_capability(__VA_ARGS__))
#define EM_RELEASE(...) EM_TSA(release_capability(__VA_ARGS__))
#define EM_TRY_ACQUIRE(...) EM_TSA(try_acquire_capability(__VA_ARGS__))
#define EM_EXCLUDES(...) EM_TSA(locks_excluded(__VA_ARGS__))
#define EM_RETURN_CAPABILITY(x) EM_TSA(lock_returned(x))
#define EM_NO_THREAD_SAFETY_ANALYSIS EM_TSA(no_thread_safety_analysis)
