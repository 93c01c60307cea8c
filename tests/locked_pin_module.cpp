// A PKCS#11 module for the tests of a token whose PIN is locked, which SoftHSM2 cannot be made
// into: it hands on every call to the module $QUILLORY_LOCKED_PIN_TARGET names, except that every
// login is refused with CKR_PIN_LOCKED, as a token answers after too many wrong PINs.
#include <dlfcn.h>
#include <p11-kit/pkcs11.h>

#include <cstdlib>

namespace {
CK_FUNCTION_LIST Functions;

CK_RV RefuseLogin(CK_SESSION_HANDLE, CK_USER_TYPE, CK_UTF8CHAR_PTR, CK_ULONG) { return CKR_PIN_LOCKED; }
}  // namespace

extern "C" __attribute__((visibility("default"))) CK_RV C_GetFunctionList(CK_FUNCTION_LIST_PTR_PTR List) {
  const char* Target = std::getenv("QUILLORY_LOCKED_PIN_TARGET");
  void* Module = Target ? ::dlopen(Target, RTLD_NOW | RTLD_LOCAL) : nullptr;
  const auto GetList = Module ? reinterpret_cast<CK_C_GetFunctionList>(::dlsym(Module, "C_GetFunctionList")) : nullptr;
  CK_FUNCTION_LIST_PTR Real = nullptr;
  if (!GetList || GetList(&Real) != CKR_OK || !Real) return CKR_GENERAL_ERROR;
  Functions = *Real;
  Functions.C_Login = &RefuseLogin;
  *List = &Functions;
  return CKR_OK;
}
