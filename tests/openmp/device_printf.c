// printf in target regions: formats with integers and doubles from several teams, printed by
// the device (the test matches the lines).
#include <omp.h>
#include <stdio.h>

int main(void) {
#pragma omp target teams num_teams(3)
  {
    int Team = omp_get_team_num();
    if (Team < 3)
      printf("device_printf: team %d of %d, half %.2f\n", Team, omp_get_num_teams(),
             Team * 0.5);
  }
  return 0;
}
