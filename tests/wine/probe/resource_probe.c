/* Loads the module and checks its resources through the Windows API, the way
 * the host, the shell and an installer see them: every string of the table by
 * ID and text (the table is resources/product_strings.def, included here), the
 * icon groups, bitmap 410, the version record, the manifest, and icon
 * references of the form "path,index" as ExtractIconExA resolves them.
 *
 * Usage: resource_probe.exe MODULE_PATH [GROUP=ICON_REFERENCE ...]
 *   e.g. 415="C:\Program Files\Pellagor\plgproduct.dll,1": the reference must
 *   resolve to the same pixels as icon group 415 loaded by ID.
 * Prints one line per check ("ok ..." or "FAIL ...") and exits 0 when every
 * check passed, 1 when one failed, 2 when the module does not load. */
#include <windows.h>
#include <shellapi.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

struct product_string {
  unsigned id;
  const char* text;
};

static const struct product_string kStrings[] = {
#define PRODUCT_STRING(symbol, id, text) {id, text},
#include "resources/product_strings.def"
#undef PRODUCT_STRING
};
enum { kStringCount = sizeof kStrings / sizeof kStrings[0] };

static int g_failures = 0;

static void report(int ok, const char* format, ...) {
  va_list args;
  va_start(args, format);
  fputs(ok ? "ok   " : "FAIL ", stdout);
  vprintf(format, args);
  fputc('\n', stdout);
  va_end(args);
  if (!ok) ++g_failures;
}

/* ------------------------------------------------------------------------ */
/* Strings. */

static const char* expected_string(unsigned id) {
  for (int i = 0; i < kStringCount; ++i)
    if (kStrings[i].id == id) return kStrings[i].text;
  return NULL;
}

static BOOL CALLBACK collect_name(HMODULE module, LPCSTR type, LPSTR name, LONG_PTR param) {
  (void)module;
  (void)type;
  WORD* ids = (WORD*)param;
  if (IS_INTRESOURCE(name) && ids[0] < 63) ids[++ids[0]] = (WORD)(ULONG_PTR)name;
  return TRUE;
}

/* ids[0] is the count; named resources are not collected. */
static void resource_ids(HMODULE module, LPCSTR type, WORD ids[64]) {
  ids[0] = 0;
  EnumResourceNamesA(module, type, collect_name, (LONG_PTR)ids);
}

/* The text on one line: line breaks and tabs as \n and \t. */
static const char* one_line(const char* text, char* out, size_t size) {
  size_t n = 0;
  for (; *text && n + 3 < size; ++text) {
    if (*text == '\n' || *text == '\t') {
      out[n++] = '\\';
      out[n++] = *text == '\n' ? 'n' : 't';
    } else {
      out[n++] = *text;
    }
  }
  out[n] = '\0';
  return out;
}

static void check_strings(HMODULE module) {
  char buffer[4096], shown[512], wanted[512];
  for (int i = 0; i < kStringCount; ++i) {
    const int length = LoadStringA(module, kStrings[i].id, buffer, sizeof buffer);
    if (length <= 0) buffer[0] = '\0';
    const int same =
        length == (int)strlen(kStrings[i].text) && strcmp(buffer, kStrings[i].text) == 0;
    one_line(buffer, shown, sizeof shown);
    one_line(kStrings[i].text, wanted, sizeof wanted);
    report(same, "string %u: \"%s\"%s%s%s", kStrings[i].id, shown, same ? "" : " (expected \"",
           same ? "" : wanted, same ? "" : "\")");
  }
  /* Nothing beyond the table: every string of every bundle is one of its rows. */
  WORD bundles[64];
  resource_ids(module, (LPCSTR)RT_STRING, bundles);
  int extra = 0, seen = 0;
  for (int b = 1; b <= bundles[0]; ++b) {
    for (unsigned id = (bundles[b] - 1u) * 16u; id < bundles[b] * 16u; ++id) {
      if (LoadStringA(module, id, buffer, sizeof buffer) <= 0) continue;
      ++seen;
      if (expected_string(id) == NULL) {
        report(0, "string %u: \"%s\" is not in the table", id, buffer);
        ++extra;
      }
    }
  }
  report(extra == 0 && seen == kStringCount,
         "string table holds %d strings in %d bundles (%d expected)", seen, bundles[0],
         kStringCount);
}

/* ------------------------------------------------------------------------ */
/* Icons. */

#pragma pack(push, 2)
typedef struct {
  BYTE width, height, colours, reserved;
  WORD planes, bit_count;
  DWORD bytes;
  WORD id;
} group_entry;
typedef struct {
  WORD reserved, type, count;
  group_entry entries[1];
} group_directory;
#pragma pack(pop)

static const void* resource_data(HMODULE module, LPCSTR name, LPCSTR type, DWORD* size) {
  HRSRC found = FindResourceA(module, name, type);
  if (found == NULL) return NULL;
  HGLOBAL loaded = LoadResource(module, found);
  if (size) *size = SizeofResource(module, found);
  return loaded ? LockResource(loaded) : NULL;
}

/* Width, height and bit depth of one RT_ICON image, a DIB or a PNG. */
static int icon_image_format(const BYTE* data, DWORD size, int* width, int* height, int* bits) {
  static const BYTE png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  if (size >= 26 && memcmp(data, png, 8) == 0) {
    *width = (data[16] << 24) | (data[17] << 16) | (data[18] << 8) | data[19];
    *height = (data[20] << 24) | (data[21] << 16) | (data[22] << 8) | data[23];
    *bits = data[24] * (data[25] == 6 ? 4 : data[25] == 2 ? 3 : 1);
    return 1;
  }
  if (size < sizeof(BITMAPINFOHEADER)) return 0;
  const BITMAPINFOHEADER* header = (const BITMAPINFOHEADER*)data;
  *width = header->biWidth;
  *height = header->biHeight / 2; /* colour and mask stacked */
  *bits = header->biBitCount;
  return 1;
}

struct icon_format {
  int size, bits;
};
static const struct icon_format kProductIcon[] = {{16, 4}, {32, 4}, {16, 8}, {32, 8}};
static const struct icon_format kFullSet[] = {{16, 32}, {24, 32}, {32, 32},  {40, 32},
                                              {48, 32}, {64, 32}, {128, 32}, {256, 32}};

static void check_icon_group(HMODULE module, WORD group) {
  const struct icon_format* wanted = group == 413 ? kProductIcon : kFullSet;
  const int wanted_count = group == 413 ? 4 : 8;
  DWORD size = 0;
  const group_directory* directory =
      resource_data(module, MAKEINTRESOURCEA(group), (LPCSTR)RT_GROUP_ICON, &size);
  if (directory == NULL || size < 6) {
    report(0, "icon group %u: not found", group);
    return;
  }
  char listing[512] = "";
  int matched = 0, images_ok = 1;
  for (int i = 0; i < directory->count; ++i) {
    const group_entry* entry = &directory->entries[i];
    const int width = entry->width ? entry->width : 256;
    const int height = entry->height ? entry->height : 256;
    snprintf(listing + strlen(listing), sizeof listing - strlen(listing), "%s%dx%d/%d",
             i ? " " : "", width, height, entry->bit_count);
    for (int w = 0; w < wanted_count; ++w)
      if (wanted[w].size == width && width == height && wanted[w].bits == entry->bit_count)
        ++matched;
    /* The image itself must say the same as its directory entry. */
    DWORD image_size = 0;
    const BYTE* image =
        resource_data(module, MAKEINTRESOURCEA(entry->id), (LPCSTR)RT_ICON, &image_size);
    int iw = 0, ih = 0, ibits = 0;
    if (image == NULL || !icon_image_format(image, image_size, &iw, &ih, &ibits) || iw != width ||
        ih != height || ibits != entry->bit_count || image_size != entry->bytes) {
      images_ok = 0;
      report(0, "icon group %u: image %u is %dx%d/%d, %lu bytes; the directory says %dx%d/%d, %lu",
             group, entry->id, iw, ih, ibits, (unsigned long)image_size, width, height,
             entry->bit_count, (unsigned long)entry->bytes);
    }
  }
  report(directory->type == 1 && directory->count == wanted_count && matched == wanted_count,
         "icon group %u: %u images (%s)", group, directory->count, listing);
  report(images_ok, "icon group %u: every image matches its directory entry", group);
}

static void check_icons(HMODULE module) {
  static const WORD order[] = {413, 415, 417, 431, 434};
  WORD groups[64];
  resource_ids(module, (LPCSTR)RT_GROUP_ICON, groups);
  char listing[256] = "";
  int same = groups[0] == 5;
  for (int i = 1; i <= groups[0]; ++i) {
    snprintf(listing + strlen(listing), sizeof listing - strlen(listing), "%s%u", i > 1 ? "," : "",
             groups[i]);
    if (i <= 5 && groups[i] != order[i - 1]) same = 0;
  }
  report(same, "icon groups in order: %s (expected 413,415,417,431,434)", listing);
  for (int i = 0; i < 5; ++i) check_icon_group(module, order[i]);
}

/* ------------------------------------------------------------------------ */
/* Bitmap. */

static void check_bitmap(HMODULE module) {
  DWORD size = 0;
  const BITMAPINFOHEADER* header =
      resource_data(module, MAKEINTRESOURCEA(410), (LPCSTR)RT_BITMAP, &size);
  report(header != NULL && header->biWidth == 500 && abs(header->biHeight) == 324 &&
             header->biBitCount == 8,
         "bitmap 410 resource: %ldx%ld, %u bits", header ? header->biWidth : 0L,
         header ? header->biHeight : 0L, header ? header->biBitCount : 0u);
  HBITMAP bitmap =
      (HBITMAP)LoadImageA(module, MAKEINTRESOURCEA(410), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION);
  DIBSECTION section;
  memset(&section, 0, sizeof section);
  const int got = bitmap && GetObjectA(bitmap, sizeof section, &section) == sizeof section;
  report(got && section.dsBm.bmWidth == 500 && section.dsBm.bmHeight == 324 &&
             section.dsBm.bmBitsPixel == 8,
         "bitmap 410 loaded: %ldx%ld, %u bits per pixel", section.dsBm.bmWidth,
         section.dsBm.bmHeight, section.dsBm.bmBitsPixel);
  if (bitmap) DeleteObject(bitmap);
}

/* ------------------------------------------------------------------------ */
/* Version record. */

static void check_version_text(void* info, const char* name, const char* wanted) {
  char path[128];
  snprintf(path, sizeof path, "\\StringFileInfo\\040904B0\\%s", name);
  char* text = NULL;
  UINT length = 0;
  const int found = VerQueryValueA(info, path, (void**)&text, &length) && text != NULL;
  report(found && strcmp(text, wanted) == 0, "version %s: \"%s\"", name,
         found ? text : "(missing)");
}

static void check_version(const char* path) {
  DWORD handle = 0;
  const DWORD size = GetFileVersionInfoSizeA(path, &handle);
  void* info = size ? malloc(size) : NULL;
  if (info == NULL || !GetFileVersionInfoA(path, 0, size, info)) {
    report(0, "version record: cannot be read (error %lu)", GetLastError());
    free(info);
    return;
  }
  VS_FIXEDFILEINFO* fixed = NULL;
  UINT length = 0;
  if (VerQueryValueA(info, "\\", (void**)&fixed, &length) && fixed &&
      fixed->dwSignature == 0xFEEF04BD) {
    report(fixed->dwFileVersionMS == MAKELONG(0, 38) && fixed->dwFileVersionLS == MAKELONG(380, 0),
           "file version %u.%u.%u.%u", HIWORD(fixed->dwFileVersionMS),
           LOWORD(fixed->dwFileVersionMS), HIWORD(fixed->dwFileVersionLS),
           LOWORD(fixed->dwFileVersionLS));
    report(fixed->dwProductVersionMS == MAKELONG(0, 38) && fixed->dwProductVersionLS == 0,
           "product version %u.%u.%u.%u", HIWORD(fixed->dwProductVersionMS),
           LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
           LOWORD(fixed->dwProductVersionLS));
    report(fixed->dwFileType == VFT_DLL, "file type %lu (VFT_DLL)", fixed->dwFileType);
  } else {
    report(0, "version record: no fixed file information");
  }
  WORD* translation = NULL;
  if (VerQueryValueA(info, "\\VarFileInfo\\Translation", (void**)&translation, &length) &&
      translation && length >= 4) {
    report(length == 4 && translation[0] == 0x0409 && translation[1] == 1200, "translation %04x/%u",
           translation[0], translation[1]);
  } else {
    report(0, "version record: no translation");
  }
  check_version_text(info, "FileDescription", "Pellagor Customization");
  check_version_text(info, "InternalName", "plgproduct");
  check_version_text(info, "OriginalFilename", "plgproduct.DLL");
  check_version_text(info, "ProductName", "Pellagor");
  check_version_text(info, "FileVersion", "38.0.0.380");
  check_version_text(info, "ProductVersion", "38.0.0.0");
  free(info);
}

/* ------------------------------------------------------------------------ */
/* Manifest. */

/* The value of attribute `name` in the first element `element`, or "". */
static void xml_attribute(const char* xml, const char* element, const char* name, char* out,
                          size_t size) {
  out[0] = '\0';
  char open[64];
  snprintf(open, sizeof open, "<%s", element);
  const char* start = strstr(xml, open);
  if (start == NULL) return;
  const char* end = strchr(start, '>');
  char pattern[64];
  snprintf(pattern, sizeof pattern, " %s=\"", name);
  const char* at = strstr(start, pattern);
  if (at == NULL || (end && at > end)) return;
  at += strlen(pattern);
  const char* close = strchr(at, '"');
  if (close == NULL) return;
  snprintf(out, size, "%.*s", (int)(close - at), at);
}

static void check_manifest(HMODULE module) {
  DWORD size = 0;
  const char* data = resource_data(module, MAKEINTRESOURCEA(2), (LPCSTR)RT_MANIFEST, &size);
  if (data == NULL) {
    report(0, "manifest 2: not found");
    return;
  }
  char* xml = malloc(size + 1);
  memcpy(xml, data, size);
  xml[size] = '\0';
  char level[64], ui_access[64];
  xml_attribute(xml, "requestedExecutionLevel", "level", level, sizeof level);
  xml_attribute(xml, "requestedExecutionLevel", "uiAccess", ui_access, sizeof ui_access);
  report(strcmp(level, "asInvoker") == 0, "manifest 2: level=\"%s\"", level);
  report(strcmp(ui_access, "false") == 0, "manifest 2: uiAccess=\"%s\"", ui_access);
  free(xml);

  /* What the loader makes of it: the activation context of the module. */
  ACTCTXA context;
  memset(&context, 0, sizeof context);
  context.cbSize = sizeof context;
  context.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  context.hModule = module;
  context.lpResourceName = MAKEINTRESOURCEA(2);
  HANDLE handle = CreateActCtxA(&context);
  if (handle == INVALID_HANDLE_VALUE) {
    report(0, "manifest 2: no activation context (error %lu)", GetLastError());
    return;
  }
  ACTIVATION_CONTEXT_RUN_LEVEL_INFORMATION run_level;
  memset(&run_level, 0, sizeof run_level);
  SIZE_T written = 0;
  const BOOL queried = QueryActCtxW(0, handle, NULL, RunlevelInformationInActivationContext,
                                    &run_level, sizeof run_level, &written);
  report(queried && run_level.RunLevel == ACTCTX_RUN_LEVEL_AS_INVOKER && !run_level.UiAccess,
         "activation context: run level %d (as invoker), UI access %lu", (int)run_level.RunLevel,
         run_level.UiAccess);
  WCHAR dpi[32] = L"";
  written = 0;
  const BOOL has_dpi = QueryActCtxSettingsW(0, handle, NULL, L"dpiAware", dpi, 32, &written);
  char dpi_text[32];
  WideCharToMultiByte(CP_ACP, 0, dpi, -1, dpi_text, sizeof dpi_text, NULL, NULL);
  report(has_dpi && lstrcmpW(dpi, L"true") == 0, "activation context: dpiAware \"%s\"",
         has_dpi ? dpi_text : "(missing)");
  ReleaseActCtx(handle);
}

/* ------------------------------------------------------------------------ */
/* Icon references. */

/* The colour and mask pixels of an icon as 32-bit rows; caller frees. */
static BYTE* icon_pixels(HICON icon, int* width, int* height, size_t* size) {
  ICONINFO info;
  if (!icon || !GetIconInfo(icon, &info)) return NULL;
  BITMAP bitmap;
  GetObjectA(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap);
  *width = bitmap.bmWidth;
  *height = bitmap.bmHeight;
  BITMAPINFO format;
  memset(&format, 0, sizeof format);
  format.bmiHeader.biSize = sizeof format.bmiHeader;
  format.bmiHeader.biWidth = *width;
  format.bmiHeader.biHeight = -*height;
  format.bmiHeader.biPlanes = 1;
  format.bmiHeader.biBitCount = 32;
  format.bmiHeader.biCompression = BI_RGB;
  const size_t plane = (size_t)*width * (size_t)*height * 4;
  BYTE* pixels = calloc(2, plane);
  HDC dc = CreateCompatibleDC(NULL);
  int rows = 0;
  if (info.hbmColor)
    rows = GetDIBits(dc, info.hbmColor, 0, *height, pixels, &format, DIB_RGB_COLORS);
  GetDIBits(dc, info.hbmMask, 0, *height, pixels + plane, &format, DIB_RGB_COLORS);
  DeleteDC(dc);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  if (info.hbmColor && rows != *height) {
    free(pixels);
    return NULL;
  }
  *size = 2 * plane;
  return pixels;
}

static int same_pixels(HICON a, HICON b, int* width) {
  int wa = 0, ha = 0, wb = 0, hb = 0;
  size_t sa = 0, sb = 0;
  BYTE* pa = icon_pixels(a, &wa, &ha, &sa);
  BYTE* pb = icon_pixels(b, &wb, &hb, &sb);
  const int same = pa && pb && wa == wb && ha == hb && sa == sb && memcmp(pa, pb, sa) == 0;
  *width = wa;
  free(pa);
  free(pb);
  return same;
}

/* "PATH,INDEX" as the shell reads a DefaultIcon value: against the group
 * loaded by ID, and against every other group, which must differ. */
static void check_icon_reference(HMODULE module, WORD group, const char* reference) {
  const char* comma = strrchr(reference, ',');
  if (comma == NULL) {
    report(0, "icon reference \"%s\": no index", reference);
    return;
  }
  char path[MAX_PATH];
  snprintf(path, sizeof path, "%.*s", (int)(comma - reference), reference);
  const int index = atoi(comma + 1);
  HICON large = NULL, small = NULL;
  const UINT extracted = ExtractIconExA(path, index, &large, &small, 1);
  if (extracted == 0 || large == NULL) {
    report(0, "icon reference \"%s\": ExtractIconExA found nothing", reference);
    return;
  }
  static const WORD groups[] = {413, 415, 417, 431, 434};
  int matches = 0, width = 0;
  WORD matched = 0;
  for (int i = 0; i < 5; ++i) {
    const int size = GetSystemMetrics(SM_CXICON);
    HICON loaded = (HICON)LoadImageA(module, MAKEINTRESOURCEA(groups[i]), IMAGE_ICON, size, size,
                                     LR_DEFAULTCOLOR);
    if (loaded && same_pixels(large, loaded, &width)) {
      ++matches;
      matched = groups[i];
    }
    if (loaded) DestroyIcon(loaded);
  }
  report(matches == 1 && matched == group,
         "icon reference \"%s\": ExtractIconExA gives the %dx%d pixels of group %u (expected %u)",
         reference, width, width, matched, group);
  DestroyIcon(large);
  if (small) DestroyIcon(small);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: resource_probe MODULE_PATH [GROUP=ICON_REFERENCE ...]\n");
    return 2;
  }
  HMODULE module = LoadLibraryA(argv[1]);
  if (module == NULL) {
    printf("FAIL module %s does not load (error %lu)\n", argv[1], GetLastError());
    return 2;
  }
  check_strings(module);
  check_icons(module);
  check_bitmap(module);
  check_version(argv[1]);
  check_manifest(module);
  const UINT icons = ExtractIconExA(argv[1], -1, NULL, NULL, 0);
  report(icons == 5, "ExtractIconExA counts %u icons in the module", icons);
  for (int i = 2; i < argc; ++i) {
    const char* equals = strchr(argv[i], '=');
    if (equals == NULL) {
      report(0, "argument \"%s\": expected GROUP=ICON_REFERENCE", argv[i]);
      continue;
    }
    check_icon_reference(module, (WORD)atoi(argv[i]), equals + 1);
  }
  FreeLibrary(module);
  printf("%s: %d failure(s)\n", g_failures ? "FAILED" : "passed", g_failures);
  return g_failures ? 1 : 0;
}
