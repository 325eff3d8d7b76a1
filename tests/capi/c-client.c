/* A C11 program using libpenamo: lists the filters, smooths a grey ramp to four grey levels
 * with the deep error diffusion, and shows how a refusal is told. */
#include <penamo.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

enum { WIDTH = 256, HEIGHT = 64 };

int main(void) {
  printf("penamo %s\n", penamo_version());
  printf("filters:");
  for (int i = 0; i < penamo_filter_count(); ++i) printf(" %s", penamo_filter_at(i)->name);
  printf("\n");

  penamo_context *context = penamo_context_new();
  if (context == NULL) return 1;

  /* A 16-bit grey ramp in, one byte of grey a pixel out. */
  uint16_t *ramp = malloc(sizeof *ramp * WIDTH * HEIGHT);
  uint8_t *grey = malloc(WIDTH * HEIGHT);
  if (ramp == NULL || grey == NULL) return 1;
  for (int y = 0; y < HEIGHT; ++y)
    for (int x = 0; x < WIDTH; ++x) ramp[y * WIDTH + x] = (uint16_t)(x * 257);
  const penamo_image in = {ramp, WIDTH, HEIGHT, WIDTH * sizeof *ramp, PENAMO_GREY, 16};
  const penamo_image out = {grey, WIDTH, HEIGHT, WIDTH, PENAMO_GREY, 8};

  penamo_status status = penamo_set_filter(context, "diffusion");
  if (status == PENAMO_OK) status = penamo_set_levels(context, 4);
  if (status == PENAMO_OK) status = penamo_set_grey(context, 1);
  if (status == PENAMO_OK) status = penamo_filter_image(context, &in, &out);
  if (status != PENAMO_OK) {
    fprintf(stderr, "%s: %s\n", penamo_status_name(status), penamo_message(context));
    return 1;
  }
  int used[256] = {0};
  for (int i = 0; i < WIDTH * HEIGHT; ++i) used[grey[i]] = 1;
  printf("grey levels used:");
  for (int level = 0; level < 256; ++level)
    if (used[level]) printf(" %d", level);
  printf("\n");

  /* A refusal: the status, and the context's message and reason. */
  status = penamo_set_filter(context, "diffusion8");
  printf("%s (%s): %s\n", penamo_status_name(status), penamo_reason(context),
         penamo_message(context));

  free(grey);
  free(ramp);
  penamo_context_free(context);
  return 0;
}
