/// \file xobject.h
/// \brief Runtime classes, the serializable base object and shared (holder-counted) objects.
///
/// Every class that an archive must be able to recreate declares a runtime class record,
/// its *creator record*, named `classCreator<Class>`. The record carries the class name,
/// the base class and a factory. Records are declared with the process-wide registry
/// (`CXRuntimeClass::DeclareRuntimeClass`) when the library is loaded, so that an archive
/// can recreate an object from the class name it stored.
#pragma once

#include <3dzan/foundation/zandefs.h>

#include <atomic>
#include <vector>

class CXObject;
class CXArchive;

/// \brief Runtime class record ("creator record") of a serializable class.
struct ZAN_API CXRuntimeClass
{
    const char* m_ClassName;                   ///< class name written to archives
    CXObject* (*m_pfnCreateObject)();          ///< factory; null for abstract classes
    const CXRuntimeClass* (*m_pfnGetBaseClass)(); ///< base record; null for CXObject itself

    /// \brief Creates a new object of this class; null when the class is abstract.
    ///        The caller owns the object.
    CXObject* CreateObject() const;
    /// \brief Whether this class is \p base or derives from it.
    bool IsDerivedFrom(const CXRuntimeClass* base) const;
    /// \brief The record of the base class, null for the root.
    const CXRuntimeClass* GetBaseClass() const;

    /// \brief Adds a record to the process-wide registry. Declaring the same record twice
    ///        is harmless; a different record under a name already taken is refused (false).
    static bool DeclareRuntimeClass(const CXRuntimeClass* record);
    /// \brief Removes a record (plug-ins unloading their classes).
    static void UndeclareRuntimeClass(const CXRuntimeClass* record);
    /// \brief The declared record of that name, or null.
    static const CXRuntimeClass* FromName(const char* className);
    /// \brief Creates an object of the declared class of that name; null when unknown or
    ///        abstract. The caller owns the object.
    static CXObject* CreateObject(const char* className);
    /// \brief Every declared record, sorted by class name.
    static std::vector<const CXRuntimeClass*> GetDeclaredClasses();
};

/// Declares the runtime class of a class inside its body.
#define ZAN_DECLARE_RUNTIME_CLASS(ClassName)                                                   \
public:                                                                                        \
    static const CXRuntimeClass classCreator##ClassName;                                       \
    static const CXRuntimeClass* GetThisRuntimeClassDescriptor()                               \
    {                                                                                          \
        return &classCreator##ClassName;                                                       \
    }                                                                                          \
    const CXRuntimeClass* GetRuntimeClassDescriptor() const override                           \
    {                                                                                          \
        return &classCreator##ClassName;                                                       \
    }

/// Declares the runtime class of a class that archives recreate (it has a factory).
#define ZAN_DECLARE_DYNCREATE(ClassName)                                                       \
    ZAN_DECLARE_RUNTIME_CLASS(ClassName)                                                       \
    static CXObject* CreateObject();

#define ZAN_RUNTIME_CLASS(ClassName) (ClassName::GetThisRuntimeClassDescriptor())

#define ZAN_IMPLEMENT_RECORD_(ClassName, BaseName, Factory)                                   \
    const CXRuntimeClass ClassName::classCreator##ClassName = {                                \
        #ClassName, Factory, &BaseName::GetThisRuntimeClassDescriptor};                        \
    namespace                                                                                  \
    {                                                                                          \
    const bool g_Declared##ClassName =                                                         \
        CXRuntimeClass::DeclareRuntimeClass(&ClassName::classCreator##ClassName);              \
    }

/// Defines the runtime class of an abstract class (no factory); declares it at load time.
#define ZAN_IMPLEMENT_RUNTIME_CLASS(ClassName, BaseName)                                       \
    ZAN_IMPLEMENT_RECORD_(ClassName, BaseName, nullptr)

/// Defines the runtime class and factory of a class; declares it at load time.
#define ZAN_IMPLEMENT_DYNCREATE(ClassName, BaseName)                                           \
    CXObject* ClassName::CreateObject() { return new ClassName; }                              \
    ZAN_IMPLEMENT_RECORD_(ClassName, BaseName, &ClassName::CreateObject)

/// \brief Root of the serializable classes.
class ZAN_API CXObject
{
public:
    static const CXRuntimeClass classCreatorCXObject;
    static const CXRuntimeClass* GetThisRuntimeClassDescriptor() { return &classCreatorCXObject; }

    CXObject() = default;
    CXObject(const CXObject&) = default;
    CXObject& operator=(const CXObject&) = default;
    virtual ~CXObject();

    /// \brief The runtime class of the object's dynamic type.
    virtual const CXRuntimeClass* GetRuntimeClassDescriptor() const;
    /// \brief Stores or loads the object; the base stores nothing.
    virtual void Serialize(CXArchive& ar);

    /// \brief Whether the object's class is \p cls or derives from it.
    bool IsKindOf(const CXRuntimeClass* cls) const;
};

/// \brief An object shared by several holders; the last holder to let go destroys it.
///
/// A new object has one holder, its creator. `AddRef` adds one; `Delete` and `DeleteMe`
/// drop one and destroy the object when none is left. Never `delete` such an object.
class ZAN_API CInstanciatedObject
{
public:
    CInstanciatedObject() = default;
    /// A copy is a new object with one holder of its own.
    CInstanciatedObject(const CInstanciatedObject&) : m_InstanceCount(1) {}
    CInstanciatedObject& operator=(const CInstanciatedObject&) { return *this; }
    virtual ~CInstanciatedObject();

    /// \brief Adds a holder; returns the new holder count.
    int AddRef() { return ++m_InstanceCount; }
    /// \brief Number of holders.
    int GetInstanceCount() const { return m_InstanceCount.load(); }
    /// \brief Whether more than one holder shares the object.
    bool IsInstanced() const { return m_InstanceCount.load() > 1; }

    /// \brief Drops one holder; destroys the object when it was the last.
    /// \return true when the object was destroyed.
    virtual bool Delete();
    /// \brief Same as Delete, for holders that keep a pointer to the base.
    bool DeleteMe() { return Delete(); }

private:
    std::atomic<int> m_InstanceCount{1};
};
