# Version resource of the module library.
#
# Builds a VS_VERSIONINFO block (fixed file info, StringFileInfo, VarFileInfo\Translation) from
# PROJECT_VERSION at configure time and places it in the ELF section ".em_version" of
# libem_tarnel.so, where the module's version reader finds it by name in the library file.
# Pure CMake: the block is computed as hex text and emitted as a byte array of a generated
# source file.

set(EM_VERSION_COMPANY "Osterbrink" CACHE STRING "CompanyName of the version resource")
set(EM_VERSION_DESCRIPTION "OID mapper extension module" CACHE STRING "FileDescription of the version resource")
set(EM_VERSION_LANGUAGE 0x0409)
set(EM_VERSION_CODEPAGE 1252)

# Little-endian hex of an unsigned value in nbytes bytes.
function(_em_vr_le out value nbytes)
  math(EXPR v "${value}" OUTPUT_FORMAT HEXADECIMAL)
  string(SUBSTRING "${v}" 2 -1 v)
  math(EXPR digits "${nbytes} * 2")
  string(LENGTH "${v}" len)
  while(len LESS digits)
    set(v "0${v}")
    string(LENGTH "${v}" len)
  endwhile()
  set(r "")
  math(EXPR last "${nbytes} - 1")
  foreach(i RANGE 0 ${last})
    math(EXPR at "${digits} - 2 * (${i} + 1)")
    string(SUBSTRING "${v}" ${at} 2 byte)
    string(APPEND r "${byte}")
  endforeach()
  set(${out} "${r}" PARENT_SCOPE)
endfunction()

# UTF-16LE hex of ASCII text with its terminator.
function(_em_vr_utf16z out text)
  string(HEX "${text}" h)
  string(REGEX REPLACE "(..)" "\\100" h "${h}")
  set(${out} "${h}0000" PARENT_SCOPE)
endfunction()

# Zero bytes that align a hex text of the given byte length to 4.
function(_em_vr_pad out hex)
  string(LENGTH "${hex}" len)
  math(EXPR bytes "${len} / 2")
  math(EXPR pad "(4 - ${bytes} % 4) % 4")
  set(p "")
  if(pad GREATER 0)
    foreach(i RANGE 1 ${pad})
      string(APPEND p "00")
    endforeach()
  endif()
  set(${out} "${hex}${p}" PARENT_SCOPE)
endfunction()

# One block: header (length, value length, type), key, value, children (each aligned to 4).
function(_em_vr_block out key type value_hex value_len children)
  _em_vr_utf16z(key_hex "${key}")
  _em_vr_le(vl "${value_len}" 2)
  _em_vr_le(ty "${type}" 2)
  _em_vr_pad(body "0000${vl}${ty}${key_hex}")  # length filled in below
  string(APPEND body "${value_hex}")
  if(NOT children STREQUAL "")
    _em_vr_pad(body "${body}")
    string(APPEND body "${children}")
  endif()
  string(LENGTH "${body}" len)
  math(EXPR bytes "${len} / 2")
  _em_vr_le(bl "${bytes}" 2)
  string(SUBSTRING "${body}" 4 -1 rest)
  set(${out} "${bl}${rest}" PARENT_SCOPE)
endfunction()

# Children list: each child padded to 4 before the next.
function(_em_vr_join out)
  set(r "")
  foreach(child ${ARGN})
    if(NOT r STREQUAL "")
      _em_vr_pad(r "${r}")
    endif()
    string(APPEND r "${child}")
  endforeach()
  set(${out} "${r}" PARENT_SCOPE)
endfunction()

function(_em_vr_string out name text)
  _em_vr_utf16z(v "${text}")
  string(LENGTH "${text}" chars)
  math(EXPR words "${chars} + 1")
  _em_vr_block(b "${name}" 1 "${v}" ${words} "")
  set(${out} "${b}" PARENT_SCOPE)
endfunction()

set(_vmaj ${PROJECT_VERSION_MAJOR})
set(_vmin 0${PROJECT_VERSION_MINOR})
set(_vpat 0${PROJECT_VERSION_PATCH})
set(_vtwk 0${PROJECT_VERSION_TWEAK})
math(EXPR _vmin "${_vmin}")
math(EXPR _vpat "${_vpat}")
math(EXPR _vtwk "${_vtwk}")
set(_file_version "${_vmaj}.${_vmin}.${_vpat}.${_vtwk}")

_em_vr_le(_sig 0xFEEF04BD 4)
_em_vr_le(_struc 0x00010000 4)
_em_vr_le(_ms "(${_vmaj} << 16) | ${_vmin}" 4)
_em_vr_le(_ls "(${_vpat} << 16) | ${_vtwk}" 4)
_em_vr_le(_mask 0x3F 4)
_em_vr_le(_zero 0 4)
_em_vr_le(_os 0x00040004 4)     # VOS_NT_WINDOWS32
_em_vr_le(_type 2 4)            # VFT_DLL
set(_fixed "${_sig}${_struc}${_ms}${_ls}${_ms}${_ls}${_mask}${_zero}${_os}${_type}${_zero}${_zero}${_zero}")

math(EXPR _lang "${EM_VERSION_LANGUAGE}" OUTPUT_FORMAT HEXADECIMAL)
math(EXPR _cp "${EM_VERSION_CODEPAGE}" OUTPUT_FORMAT HEXADECIMAL)
string(SUBSTRING "${_lang}" 2 -1 _lang)
string(SUBSTRING "${_cp}" 2 -1 _cp)
string(TOUPPER "0000${_lang}" _lang)
string(TOUPPER "0000${_cp}" _cp)
string(LENGTH "${_lang}" _n)
math(EXPR _n "${_n} - 4")
string(SUBSTRING "${_lang}" ${_n} 4 _lang)
string(LENGTH "${_cp}" _n)
math(EXPR _n "${_n} - 4")
string(SUBSTRING "${_cp}" ${_n} 4 _cp)

_em_vr_string(_s1 "CompanyName" "${EM_VERSION_COMPANY}")
_em_vr_string(_s2 "FileDescription" "${EM_VERSION_DESCRIPTION}")
_em_vr_string(_s3 "FileVersion" "${_file_version}")
_em_vr_string(_s4 "InternalName" "EM_TARNEL")
_em_vr_string(_s5 "OriginalFilename" "libem_tarnel.so")
_em_vr_string(_s6 "ProductName" "EM_TARNEL")
_em_vr_string(_s7 "ProductVersion" "${PROJECT_VERSION}")
_em_vr_join(_strings ${_s1} ${_s2} ${_s3} ${_s4} ${_s5} ${_s6} ${_s7})
_em_vr_block(_table "${_lang}${_cp}" 1 "" 0 "${_strings}")
_em_vr_block(_sfi "StringFileInfo" 1 "" 0 "${_table}")

_em_vr_le(_tl "${EM_VERSION_LANGUAGE}" 2)
_em_vr_le(_tc "${EM_VERSION_CODEPAGE}" 2)
_em_vr_block(_var "Translation" 0 "${_tl}${_tc}" 4 "")
_em_vr_block(_vfi "VarFileInfo" 1 "" 0 "${_var}")

_em_vr_join(_root_children ${_sfi} ${_vfi})
_em_vr_block(_root "VS_VERSION_INFO" 0 "${_fixed}" 52 "${_root_children}")

string(REGEX REPLACE "(..)" "0x\\1," _bytes "${_root}")
string(REGEX REPLACE "(0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,0x..,)" "\\1\n    " _bytes "${_bytes}")
file(CONFIGURE OUTPUT ${CMAKE_BINARY_DIR}/generated/em_version_resource.cpp CONTENT
"// Generated by cmake/version_resource.cmake from the project version ${PROJECT_VERSION}.
// The version resource (VS_VERSIONINFO) of the library, read back from the file by section name.
__attribute__((section(\".em_version\"), used, aligned(4)))
extern const unsigned char em_version_resource[] = {
    ${_bytes}
};
" @ONLY)
target_sources(em_tarnel PRIVATE ${CMAKE_BINARY_DIR}/generated/em_version_resource.cpp)
