/* penamo:dither's properties say what libpenamo's filter list says: one enum value per filter in
 * the list's order, named by the filter's name and labelled by its caption, and the strength and
 * levels ranges and defaults of the filters that take them. Loads the operation from GEGL_PATH;
 * prints each difference and exits 1 when there is one. */
#include <gegl.h>
#include <glib/gstdio.h>
#include <stdio.h>
#include <string.h>

#include "penamo.h"

static int failures = 0;

static void
expect (int holds, const char *what)
{
  if (!holds)
    {
      fprintf (stderr, "differs: %s\n", what);
      failures++;
    }
}

static GParamSpec *
property (GParamSpec **properties, guint count, const char *name)
{
  for (guint i = 0; i < count; i++)
    if (strcmp (g_param_spec_get_name (properties[i]), name) == 0)
      return properties[i];
  fprintf (stderr, "no property %s\n", name);
  failures++;
  return NULL;
}

static void
expect_range (GParamSpec *found, int minimum, int maximum, int fallback, const char *name)
{
  char what[128];
  GParamSpecInt *range;
  if (found == NULL || !G_IS_PARAM_SPEC_INT (found))
    {
      expect (0, name);
      return;
    }
  range = G_PARAM_SPEC_INT (found);
  snprintf (what, sizeof what, "%s range %d..%d default %d (library %d..%d default %d)", name,
            range->minimum, range->maximum, range->default_value, minimum, maximum, fallback);
  expect (range->minimum == minimum && range->maximum == maximum &&
              range->default_value == fallback,
          what);
}

/* Removes the folder and whatever GEGL left in it. */
static void
remove_tree (const gchar *path)
{
  GDir *dir = g_dir_open (path, 0, NULL);
  const gchar *name;
  if (dir != NULL)
    {
      while ((name = g_dir_read_name (dir)) != NULL)
        {
          gchar *child = g_build_filename (path, name, NULL);
          if (g_file_test (child, G_FILE_TEST_IS_DIR))
            remove_tree (child);
          else
            g_remove (child);
          g_free (child);
        }
      g_dir_close (dir);
    }
  g_rmdir (path);
}

/* Compares the operation's properties with the library's filter list. */
static void
check (void)
{
  guint count = 0;
  GParamSpec **properties;
  GParamSpec *filter;
  GEnumClass *filters;
  int with_strength = -1, with_levels = -1;

  if (!gegl_has_operation ("penamo:dither"))
    {
      expect (0, "GEGL finds penamo:dither on GEGL_PATH");
      return;
    }
  properties = gegl_operation_list_properties ("penamo:dither", &count);
  filter = property (properties, count, "filter");
  if (filter == NULL || !G_IS_PARAM_SPEC_ENUM (filter))
    {
      expect (0, "the filter property is an enum");
      g_free (properties);
      return;
    }
  filters = G_PARAM_SPEC_ENUM (filter)->enum_class;
  expect ((int) filters->n_values == penamo_filter_count (), "the number of filters");
  for (int i = 0; i < penamo_filter_count () && i < (int) filters->n_values; i++)
    {
      const penamo_filter_info *info = penamo_filter_at (i);
      char what[256];
      snprintf (what, sizeof what, "filter %d: %s «%s» (library %s «%s»)", i,
                filters->values[i].value_nick, filters->values[i].value_name, info->name,
                info->caption);
      expect (filters->values[i].value == i &&
                  strcmp (filters->values[i].value_nick, info->name) == 0 &&
                  strcmp (filters->values[i].value_name, info->caption) == 0,
              what);
      if (info->takes_strength && with_strength < 0)
        with_strength = i;
      if (info->takes_levels && with_levels < 0)
        with_levels = i;
    }
  expect (with_strength >= 0 && with_levels >= 0, "filters with strength and with levels");
  if (with_strength >= 0)
    {
      const penamo_filter_info *info = penamo_filter_at (with_strength);
      expect_range (property (properties, count, "strength"), info->min_strength, info->max_strength,
                    info->default_strength, "strength");
    }
  if (with_levels >= 0)
    {
      const penamo_filter_info *info = penamo_filter_at (with_levels);
      expect_range (property (properties, count, "levels"), info->min_levels, info->max_levels,
                    info->default_levels, "levels");
    }
  g_free (properties);
}

int
main (int argc, char **argv)
{
  /* GEGL's swap and cache in a folder of the test's own, removed at the end. */
  gchar *own = g_dir_make_tmp ("penamo-gegl-XXXXXX", NULL);
  gchar *swap;
  if (own == NULL)
    return 1;
  swap = g_build_filename (own, "swap", NULL);
  g_setenv ("GEGL_SWAP", swap, TRUE);
  g_setenv ("XDG_CACHE_HOME", own, TRUE);
  gegl_init (&argc, &argv);
  check ();
  gegl_exit ();
  remove_tree (own);
  g_free (swap);
  g_free (own);
  if (failures == 0)
    printf ("penamo:dither's properties match the library's filter list\n");
  return failures == 0 ? 0 : 1;
}
