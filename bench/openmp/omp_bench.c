/* The OpenMP side of offload_bench, compiled by omptarget-cc and run by it in a child process
 * with the CPU device's environment. Writes its figures as the benchmark's rows
 * ("row<TAB>key<TAB>value ns<TAB>baseline ns<TAB>label"):
 *   omp_bench saxpy SAMPLES  saxpy over 10^6 floats through the whole OpenMP stack against the same
 *                            allocations, copies and kernel in plain OpenCL, alternately;
 *   omp_bench launch SAMPLES one empty target region per sample; the baseline (the plugin's own
 *                            part of each launch) is read by the parent from the plugin's
 *                            timeline file, so it is left out here. */
#define CL_TARGET_OPENCL_VERSION 300
#include <CL/cl.h>
#include <omp.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

static double now_ns(void) {
  struct timespec t;
  clock_gettime(CLOCK_MONOTONIC, &t);
  return (double)t.tv_sec * 1e9 + (double)t.tv_nsec;
}

static int by_value(const void *a, const void *b) {
  double x = *(const double *)a, y = *(const double *)b;
  return (x > y) - (x < y);
}

static double median(double *values, int count) {
  qsort(values, count, sizeof *values, by_value);
  return count % 2 ? values[count / 2] : (values[count / 2 - 1] + values[count / 2]) / 2;
}

enum { N = 1000000 };
static const float A = 1.5f;

static void omp_saxpy(const float *x, float *y) {
#pragma omp target teams distribute parallel for map(to : x[0:N]) map(tofrom : y[0:N])
  for (int i = 0; i < N; ++i)
    y[i] = A * x[i] + y[i];
}

/* What a plain OpenCL program does for the same work, on the same kind of device. */
typedef struct {
  cl_context context;
  cl_command_queue queue;
  cl_program program;
  cl_kernel kernel;
} plain_cl;

static const char *saxpy_source =
    "__kernel void saxpy(float a, __global const float *x, __global float *y) {\n"
    "  size_t i = get_global_id(0);\n"
    "  y[i] = a * x[i] + y[i];\n"
    "}\n";

static int plain_open(plain_cl *cl) {
  cl_platform_id platforms[8];
  cl_uint count = 0;
  cl_device_id device = NULL;
  if (clGetPlatformIDs(8, platforms, &count) != CL_SUCCESS)
    return 0;
  for (cl_uint p = 0; p < count && p < 8 && !device; ++p)
    if (clGetDeviceIDs(platforms[p], CL_DEVICE_TYPE_CPU, 1, &device, NULL) != CL_SUCCESS)
      device = NULL;
  cl_int error = CL_SUCCESS;
  if (!device)
    return 0;
  cl->context = clCreateContext(NULL, 1, &device, NULL, NULL, &error);
  if (error == CL_SUCCESS)
    cl->queue = clCreateCommandQueueWithProperties(cl->context, device, NULL, &error);
  if (error == CL_SUCCESS)
    cl->program = clCreateProgramWithSource(cl->context, 1, &saxpy_source, NULL, &error);
  if (error == CL_SUCCESS)
    error = clBuildProgram(cl->program, 1, &device, "", NULL, NULL);
  if (error == CL_SUCCESS)
    cl->kernel = clCreateKernel(cl->program, "saxpy", &error);
  return error == CL_SUCCESS;
}

static int plain_saxpy(plain_cl *cl, const float *x, float *y) {
  const size_t bytes = N * sizeof(float), global = N;
  float *dx = clSVMAlloc(cl->context, CL_MEM_READ_WRITE, bytes, 0);
  float *dy = clSVMAlloc(cl->context, CL_MEM_READ_WRITE, bytes, 0);
  int ok = dx && dy;
  ok = ok && clEnqueueSVMMemcpy(cl->queue, CL_FALSE, dx, x, bytes, 0, NULL, NULL) == CL_SUCCESS;
  ok = ok && clEnqueueSVMMemcpy(cl->queue, CL_FALSE, dy, y, bytes, 0, NULL, NULL) == CL_SUCCESS;
  ok = ok && clSetKernelArg(cl->kernel, 0, sizeof A, &A) == CL_SUCCESS;
  ok = ok && clSetKernelArgSVMPointer(cl->kernel, 1, dx) == CL_SUCCESS;
  ok = ok && clSetKernelArgSVMPointer(cl->kernel, 2, dy) == CL_SUCCESS;
  ok = ok && clEnqueueNDRangeKernel(cl->queue, cl->kernel, 1, NULL, &global, NULL, 0, NULL,
                                    NULL) == CL_SUCCESS;
  ok = ok && clEnqueueSVMMemcpy(cl->queue, CL_TRUE, y, dy, bytes, 0, NULL, NULL) == CL_SUCCESS;
  clFinish(cl->queue);
  clSVMFree(cl->context, dx);
  clSVMFree(cl->context, dy);
  return ok;
}

static int saxpy_rows(int samples) {
  float *x = malloc(N * sizeof *x), *y = malloc(N * sizeof *y);
  double *omp = malloc(samples * sizeof *omp), *plain = malloc(samples * sizeof *plain);
  plain_cl cl = {0};
  if (!x || !y || !omp || !plain || !plain_open(&cl)) {
    fprintf(stderr, "omp_bench: no plain OpenCL CPU device or no memory\n");
    return 1;
  }
  for (int i = 0; i < N; ++i) {
    x[i] = (float)(i % 100);
    y[i] = 0.0f;
  }
  /* Both sides once before timing: image load, kernel builds, first page faults. Each run adds
   * A * x to y, so after two runs y is 2 * A * x. */
  int ok = plain_saxpy(&cl, x, y);
  omp_saxpy(x, y);
  for (int s = 0; s < samples && ok; ++s) {
    /* The two sides alternate which goes first. */
    for (int side = 0; side < 2; ++side) {
      double start = now_ns();
      if ((side + s) % 2 == 0)
        omp_saxpy(x, y);
      else
        ok = ok && plain_saxpy(&cl, x, y);
      double elapsed = now_ns() - start;
      if ((side + s) % 2 == 0)
        omp[s] = elapsed;
      else
        plain[s] = elapsed;
    }
  }
  /* Every run of either side added A * x once more; halves of small integers add up exactly. */
  for (int i = 0; i < N && ok; ++i)
    ok = y[i] == (float)(2 * samples + 2) * A * x[i];
  if (!ok) {
    fprintf(stderr, "omp_bench: a saxpy failed or computed a wrong result\n");
    return 1;
  }
  printf("row\tomp.saxpy\t%.1f\t%.1f\tOpenMP saxpy, 1e6 floats, map(to/tofrom) (baseline: the same "
         "in plain OpenCL)\n",
         median(omp, samples), median(plain, samples));
  return 0;
}

static int launch_rows(int samples) {
  double *times = malloc(samples * sizeof *times);
  if (!times)
    return 1;
  /* The first launch loads the image and builds the kernel: not measured. */
#pragma omp target
  {
  }
  for (int s = 0; s < samples; ++s) {
    double start = now_ns();
#pragma omp target
    {
    }
    times[s] = now_ns() - start;
  }
  printf("row\tomp.launch\t%.1f\t-1\tempty target region (baseline: the plugin's launch inside "
         "it)\n",
         median(times, samples));
  return 0;
}

int main(int argc, char **argv) {
  int samples = argc > 2 ? atoi(argv[2]) : 0;
  if (argc != 3 || samples < 1 || (strcmp(argv[1], "saxpy") && strcmp(argv[1], "launch"))) {
    fprintf(stderr, "usage: omp_bench saxpy|launch SAMPLES\n");
    return 2;
  }
  return strcmp(argv[1], "saxpy") == 0 ? saxpy_rows(samples) : launch_rows(samples);
}
