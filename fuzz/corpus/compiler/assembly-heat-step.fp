!!ARBfp1.0
# texture[0] = heatTexture (samplerRECT)
# program.local[0] = invGridSize (float2)
# program.local[1] = timestep (float)
TEMP r0, r1, r2, r3, r4, r5;
PARAM c0 = {-1.0, -0.0, 1.0, 0.0};
PARAM c1 = {1e-05, 0.5, 2.0, 0.0};
TEX r0, fragment.texcoord[0], texture[0], RECT;
ADD r1, fragment.texcoord[0].xyxy, c0;
ADD r2, fragment.texcoord[0].xyxy, c0.yxwz;
MUL r3.x, c1, program.local[1];
MUL r3.yz, program.local[0].xxyy, program.local[0].xxyy;
RCP r3.y, r3.y;
RCP r3.w, r3.z;
MUL r3.yw, r3.x, r3;
ADD r3.x, r3.y, r3.w;
MAX r3.x, r3, c1.y;
RCP r3.x, r3.x;
MUL r3.x, c1.y, r3;
MUL r3.xy, r3.ywww, r3.x;
TEX r4, r1, texture[0], RECT;
TEX r1, r1.zwww, texture[0], RECT;
TEX r5, r2, texture[0], RECT;
TEX r2, r2.zwww, texture[0], RECT;
ADD r1, r4, r1;
MAD r1, -c1.z, r0, r1;
MAD r1, r3.x, r1, r0;
ADD r2, r5, r2;
MAD r0, -c1.z, r0, r2;
MAD result.color, r3.y, r0, r1;
END
