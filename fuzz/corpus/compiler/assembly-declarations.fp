!!ARBfp1.0
# program.local[0] = tint (float3) = 1, 0.5, 0
OPTION ARB_precision_hint_nicest;
ATTRIB tc = fragment.texcoord[0];
PARAM k[] = {program.local[0..1], {0.5, 2}};
TEMP a;
TEX a, tc, texture[0], RECT;
SWZ a, a, x, -y, 0, 1;
MAD_SAT result.color, a, k[0], k[2].x;
END
