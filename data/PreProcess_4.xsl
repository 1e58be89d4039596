<?xml version="1.0" encoding="UTF-8"?>
<!--
  Pre-processing step 4 of 4: bit positions and boolean values.

  Runs on the flat document, so it also sees the registers made from StructReg entries.
  - A single Bit becomes LSB and MSB with the same number (a bit field one bit wide), unless the
    node already gives LSB or MSB. The first Bit counts.
  - A Boolean Value written as true/false becomes the number the node reads as on or off
    (its OnValue, default 1, or its OffValue, default 0).
  Everything else is copied unchanged. Both rules work per node, so that the work stays linear
  in the size of the description.
-->
<xsl:stylesheet version="1.0" xmlns:xsl="http://www.w3.org/1999/XSL/Transform">
  <xsl:output method="xml" encoding="UTF-8" indent="no"/>

  <!-- One template per node, choosing inside: libxslt would count siblings for every match of
       a pattern with a predicate, which makes descriptions with thousands of nodes slow. -->
  <xsl:template match="/RegisterDescription">
    <xsl:copy>
      <xsl:copy-of select="@*"/>
      <xsl:for-each select="*">
        <xsl:choose>
          <xsl:when test="self::Boolean">
            <xsl:call-template name="boolean"/>
          </xsl:when>
          <xsl:when test="Bit">
            <xsl:call-template name="bit"/>
          </xsl:when>
          <xsl:otherwise>
            <xsl:copy-of select="."/>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:for-each>
    </xsl:copy>
  </xsl:template>

  <xsl:template name="bit">
    <xsl:copy>
      <xsl:copy-of select="@*"/>
      <xsl:copy-of select="*[not(self::Bit)]"/>
      <xsl:if test="not(LSB or MSB)">
        <xsl:variable name="bit" select="Bit[1]"/>
        <LSB>
          <xsl:value-of select="$bit"/>
        </LSB>
        <MSB>
          <xsl:value-of select="$bit"/>
        </MSB>
      </xsl:if>
    </xsl:copy>
  </xsl:template>

  <xsl:template name="boolean">
    <xsl:variable name="on">
      <xsl:choose>
        <xsl:when test="OnValue">
          <xsl:value-of select="OnValue[1]"/>
        </xsl:when>
        <xsl:otherwise>1</xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:variable name="off">
      <xsl:choose>
        <xsl:when test="OffValue">
          <xsl:value-of select="OffValue[1]"/>
        </xsl:when>
        <xsl:otherwise>0</xsl:otherwise>
      </xsl:choose>
    </xsl:variable>
    <xsl:copy>
      <xsl:copy-of select="@*"/>
      <xsl:for-each select="*">
        <xsl:choose>
          <xsl:when test="self::Value and . = 'true'">
            <Value>
              <xsl:value-of select="$on"/>
            </Value>
          </xsl:when>
          <xsl:when test="self::Value and . = 'false'">
            <Value>
              <xsl:value-of select="$off"/>
            </Value>
          </xsl:when>
          <xsl:otherwise>
            <xsl:copy-of select="."/>
          </xsl:otherwise>
        </xsl:choose>
      </xsl:for-each>
    </xsl:copy>
  </xsl:template>
</xsl:stylesheet>
