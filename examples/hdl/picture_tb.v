// Scans the whole picture out of picture_rom, one pixel a clock from the top-left, and
// writes the colours that come out as a PPM picture (+ppm=<file>, default picture.ppm).
// Under Icarus Verilog:
//     iverilog -o picture_tb picture_rom.v picture_tb.v && vvp -n picture_tb +ppm=seen.ppm
module picture_tb;
  parameter WIDTH = 62;
  parameter HEIGHT = 32;
  parameter INIT_FILE = "sample.mem";

  reg clk = 1'b0;
  always #5 clk = ~clk;

  reg in_valid = 1'b0;
  reg [15:0] x = 16'd0, y = 16'd0;
  wire out_valid;
  wire [7:0] red, green, blue;

  picture_rom #(.WIDTH(WIDTH), .HEIGHT(HEIGHT), .INIT_FILE(INIT_FILE)) rom (
      .clk(clk), .in_valid(in_valid), .x(x), .y(y),
      .out_valid(out_valid), .red(red), .green(green), .blue(blue));

  reg [8*4096-1:0] ppm_name;
  integer ppm, seen = 0, column, row;

  // Every pixel that comes out, in the order it comes.
  always @(posedge clk) begin
    if (out_valid) begin
      $fwrite(ppm, "%0d %0d %0d\n", red, green, blue);
      seen = seen + 1;
    end
  end

  initial begin
    if (!$value$plusargs("ppm=%s", ppm_name)) ppm_name = "picture.ppm";
    ppm = $fopen(ppm_name, "w");
    if (ppm == 0) begin
      $display("picture_tb: cannot write %0s", ppm_name);
      $finish;
    end
    $fwrite(ppm, "P3\n%0d %0d\n255\n", WIDTH, HEIGHT);
    for (row = 0; row < HEIGHT; row = row + 1) begin
      for (column = 0; column < WIDTH; column = column + 1) begin
        @(negedge clk);
        x = column;
        y = row;
        in_valid = 1'b1;
      end
    end
    @(negedge clk) in_valid = 1'b0;
    wait (seen == WIDTH * HEIGHT);
    $fclose(ppm);
    $finish;
  end
endmodule
