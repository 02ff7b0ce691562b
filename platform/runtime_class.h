// Run-time class information: a class name, its base and, for classes that
// the framework creates itself (threads), a factory.
#pragma once

struct CRuntimeClass {
    const char* m_lpszClassName;
    const CRuntimeClass* m_pBaseClass;
    void* (*m_pfnCreateObject)() = nullptr;
    [[nodiscard]] bool IsDerivedFrom(const CRuntimeClass* pBaseClass) const;
};

#define RUNTIME_CLASS(class_name) (&class_name::class##class_name)
#define DECLARE_DYNAMIC(class_name)               \
public:                                           \
    static const CRuntimeClass class##class_name; \
    [[nodiscard]] const CRuntimeClass* GetRuntimeClass() const override;
#define IMPLEMENT_DYNAMIC(class_name, base_class_name)         \
    const CRuntimeClass class_name::class##class_name {        \
#class_name, RUNTIME_CLASS(base_class_name)            \
    };                                                         \
    const CRuntimeClass* class_name::GetRuntimeClass() const { \
        return RUNTIME_CLASS(class_name);                      \
    }
// A class that the framework can also create from its run-time class.
#define DECLARE_DYNCREATE(class_name)                                 \
    DECLARE_DYNAMIC(class_name)                                       \
    static void* CreateObject() {                                     \
        /* NOLINTNEXTLINE(bugprone-macro-parentheses): a type name */ \
        return new class_name;                                        \
    }
#define IMPLEMENT_DYNCREATE(class_name, base_class_name)                       \
    const CRuntimeClass class_name::class##class_name {                        \
#class_name, RUNTIME_CLASS(base_class_name), &class_name::CreateObject \
    };                                                                         \
    const CRuntimeClass* class_name::GetRuntimeClass() const {                 \
        return RUNTIME_CLASS(class_name);                                      \
    }
