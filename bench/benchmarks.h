// The benchmark families, registered in this order by main with their figures.
#pragma once

namespace tarvex::bench {

void registerCommandBenchmarks();      // figure 1: one command, library and bare transport
void registerCaptureBenchmarks();      // figure 2: scope captures of 1, 100, 65535 packets
void registerEyeBenchmarks();          // figure 3: eye folding beside a memory copy
void registerDiscoveryBenchmarks();    // figure 4: the device count beside one snapshot
void registerCalibrationBenchmarks();  // figure 5: the calibration wire format
void registerAnalysisBenchmarks();     // figure 6: eye measurements and the mask test
void registerViewBenchmarks();         // figure 7: a frame of tarvex view (when the tool is built)

}  // namespace tarvex::bench
